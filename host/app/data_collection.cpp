#include "host/app/data_collection.h"

#include "platform/convert.h"

#include <QDate>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace bw::host {

void DataCollection::ShowA(QVariant& VarUser, QVariant& VarTitle, QVariant& VarCaption,
                           QVariant& VarSysDate) {
    auto* w = new QWidget;
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setObjectName(QStringLiteral("DataCollection"));
    w->setWindowTitle(TextOf(VarTitle));
    auto* layout = new QVBoxLayout(w);
    layout->addWidget(new QLabel(TextOf(VarCaption), w));
    layout->addWidget(new QLabel(TextOf(VarUser), w));
    layout->addWidget(new QLabel(VarSysDate.toDate().toString(Qt::ISODate), w));
    w->resize(320, 120);
    w->show();
}

void registerDataCollection() {
    Registry::instance().registerClass(progid::DataCollection,
                                       [] { return std::make_shared<DataCollection>(); });
}

} // namespace bw::host
