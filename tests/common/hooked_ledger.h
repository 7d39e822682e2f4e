#pragma once

// The default database-tools component with a hook in front of every UpdateBatch of the
// recordsets it hands out: a test stands in there for another workstation that changes the
// row, or holds the save until another process has read the same row. Header only: include
// it where the host's database components are linked.

#include "host/ledger/ledger.h"
#include "platform/interfaces.h"

#include <functional>
#include <memory>
#include <utility>

namespace bw::test {

class HookedRecordset : public Recordset {
public:
    HookedRecordset(RecordsetPtr inner, std::function<void()> hook)
        : inner_(std::move(inner)), hook_(std::move(hook)) {}
    int State() const override { return inner_->State(); }
    void Close() override { inner_->Close(); }
    long RecordCount() const override { return inner_->RecordCount(); }
    bool Eof() const override { return inner_->Eof(); }
    void MoveNext() override { inner_->MoveNext(); }
    QVariant field(const QString& name) const override { return inner_->field(name); }
    void setField(const QString& name, const QVariant& value) override {
        inner_->setField(name, value);
    }
    void AddNew() override { inner_->AddNew(); }
    void UpdateBatch(int affectRecords) override {
        if (hook_)
            hook_();
        inner_->UpdateBatch(affectRecords);
    }

private:
    RecordsetPtr inner_;
    std::function<void()> hook_;
};

class HookedLedger : public IDbTools {
public:
    explicit HookedLedger(std::function<void()> beforeUpdateBatch)
        : hook_(std::move(beforeUpdateBatch)) {}
    ConnectionPtr ActiveCn() override { return inner_.ActiveCn(); }
    RecordsetPtr RecordSetA(const QString& sql) override {
        RecordsetPtr rs = inner_.RecordSetA(sql);
        return rs ? std::make_shared<HookedRecordset>(rs, hook_) : rs;
    }
    QString DateExchangeA(const QDateTime& when) override { return inner_.DateExchangeA(when); }
    void ConnectA() override { inner_.ConnectA(); }

private:
    host::Ledger inner_;
    std::function<void()> hook_;
};

} // namespace bw::test
