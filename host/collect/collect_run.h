#pragma once

#include "host/collect/collector.h"
#include "host/collect/meal_store.h"

#include <QString>

namespace bw::host {
class Link;
}

namespace bw::host::site {
struct StepResult;
}

namespace bw::host::collect {

// The terminal's side of a collection over a link the line holds open.
class LinkSource : public RecordSource {
public:
    LinkSource(int address, Link& link) : address_(address), link_(link) {}
    bool status(RecordStatus& status) override;
    bool read(quint32 from, int count, QVector<MealRecord>& out) override;
    bool erase(quint32 upTo) override;
    QString error() const override;
    Failure failure() const override;

private:
    int address_;
    Link& link_;
};

// The operator's language (2052, 1028): a fault, a collection's one-line result, any step's.
QString faultText(const Fault& fault);
QString resultText(const Outcome& outcome);
QString stepText(const site::StepResult& result);
// The same as shown to the operator: with the operation-log entries and the step's row that the
// database refused, when there were any.
QString shownStepText(const site::StepResult& result);

// The collection's result in plain English, for the command line: "terminal 3: ok, ...".
QString resultLine(const Outcome& outcome);

} // namespace bw::host::collect
