#include "host/console/settings_dialog.h"

#include "bell/serial_port.h"
#include "host/console/console_texts.h"
#include "host/link/link.h"
#include "host/site/site_layer.h"
#include "platform/clock_guard.h"
#include "platform/error.h"
#include "platform/language.h"
#include "store/sql_connection.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace bw::host::console {

namespace {

constexpr int kComPorts = 16;

QTableWidget* table(const QStringList& headings, QWidget* parent) {
    auto* t = new QTableWidget(0, int(headings.size()), parent);
    t->setHorizontalHeaderLabels(headings);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

} // namespace

QList<SerialDevice> serialDevices() {
    // The by-id names are links to the devices; the link that leads to a device names it.
    QMap<QString, QString> byId;
    const QDir dir(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : dir.entryInfoList(QDir::System | QDir::Files))
        byId.insert(link.canonicalFilePath(), link.absoluteFilePath());
    QList<SerialDevice> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        out << SerialDevice{info.systemLocation(), info.description(),
                            byId.value(QFileInfo(info.systemLocation()).canonicalFilePath())};
    return out;
}

QStringList inForceLines(const SettingsInForce& inForce) {
    QStringList lines;
    const bool embedded = inForce.connection.isEmpty() || inForce.connection == inForce.embeddedDb;
    lines << text(Text::InForceDatabase)
                 .arg(embedded ? text(Text::EmbeddedDatabase).arg(inForce.embeddedDb)
                               : maskPassword(inForce.connection));
    if (!inForce.simulator.isEmpty())
        lines << text(Text::InForceSimulator).arg(inForce.simulator);
    QStringList ports;
    for (int n = 1; n <= kComPorts; ++n) {
        const QString device = bell::devicePath(n);
        if (bell::hasNoDevice(n))
            ports << QStringLiteral("COM%1 → %2").arg(n).arg(text(Text::NoDeviceSet));
        else if (device != QStringLiteral("/dev/ttyS%1").arg(n - 1))
            ports << QStringLiteral("COM%1 → %2").arg(n).arg(device);
    }
    if (!ports.isEmpty())
        lines << text(Text::InForcePorts).arg(ports.join(QStringLiteral("，")));
    return lines;
}

void applyKeptSettings(const Settings& before, const Settings& after) {
    const auto device = [](const Settings& s, int n) {
        for (const auto& [port, path] : s.com)
            if (port == n)
                return path;
        return QString();
    };
    for (int n = 1; n <= kComPorts; ++n) {
        const QString path = device(after, n);
        if (path == device(before, n) &&
            before.comWithoutDevice.contains(n) == after.comWithoutDevice.contains(n))
            continue;
        if (!path.isEmpty())
            bell::setDevicePath(n, path);
        else if (after.comWithoutDevice.contains(n))
            bell::setNoDevice(n);
        else
            bell::setDevicePath(n, QString());
    }
    // A port the map no longer names goes to itself again.
    const auto target = [](const Settings& s, int from) {
        for (const auto& [port, to] : s.tcpPortMap)
            if (port == from)
                return to;
        return from;
    };
    QList<int> ports;
    for (const Settings* s : {&before, &after})
        for (const auto& entry : s->tcpPortMap)
            ports << entry.first;
    for (int from : std::as_const(ports))
        if (target(before, from) != target(after, from))
            setTcpPortMap(from, target(after, from));
    site::setClockMaxChangeS(clockMaxChangeS(after));
    trustUnsynchronisedClock(!after.clockRequireSynchronised);
}

QStringList waitingForRestart(const Settings& before, const Settings& after) {
    QStringList names;
    if (before.db != after.db)
        names << text(Text::Database);
    if (before.lang != after.lang)
        names << text(Text::Language);
    if (before.bellSection != after.bellSection)
        names << text(Text::BellSection);
    if (before.sim != after.sim)
        names << text(Text::Simulator);
    if (before.traceLine != after.traceLine)
        names << text(Text::TraceLine);
    return names;
}

void SettingsDialog::showInForce(const SettingsInForce& inForce) {
    inForce_ = inForce;
    inForceLabel_->setText(inForceLines(inForce).join(QLatin1Char('\n')));
    inForceLabel_->setVisible(true);
}

SettingsDialog::SettingsDialog(const QString& path, QWidget* parent)
    : QDialog(parent), path_(path), saved_(readSettings(path)) {
    setObjectName(QStringLiteral("Settings"));
    setWindowTitle(text(Text::Settings));
    build();
    fill();
}

void SettingsDialog::build() {
    auto* top = new QVBoxLayout(this);
    inForceLabel_ = new QLabel(this);
    inForceLabel_->setObjectName(QStringLiteral("InForce"));
    inForceLabel_->setTextFormat(Qt::PlainText); // paths and connections are not markup
    inForceLabel_->setWordWrap(true);
    inForceLabel_->setVisible(false);
    top->addWidget(inForceLabel_);
    auto* tabs = new QTabWidget(this);
    top->addWidget(tabs, 1);

    auto* general = new QWidget(tabs);
    auto* form = new QFormLayout(general);
    db_ = new QLineEdit(general);
    db_->setObjectName(QStringLiteral("Database"));
    auto* test = new QPushButton(text(Text::TestDatabase), general);
    test->setObjectName(QStringLiteral("TestDatabase"));
    auto* dbRow = new QHBoxLayout;
    dbRow->addWidget(db_, 1);
    dbRow->addWidget(test);
    form->addRow(text(Text::Database), dbRow);
    user_ = new QLineEdit(general);
    user_->setObjectName(QStringLiteral("Operator"));
    form->addRow(text(Text::OperatorField), user_);
    siteName_ = new QLineEdit(general);
    siteName_->setObjectName(QStringLiteral("SiteName"));
    siteName_->setMaxLength(MaxSiteName);
    form->addRow(text(Text::SiteNameField), siteName_);
    lang_ = new QComboBox(general);
    lang_->setObjectName(QStringLiteral("Language"));
    lang_->addItem(text(Text::LanguageDefault), 0);
    lang_->addItem(QStringLiteral("简体中文 (2052)"), LangSimplified);
    lang_->addItem(QStringLiteral("繁體中文 (1028)"), LangTraditional);
    form->addRow(text(Text::Language), lang_);
    bell_ = new QCheckBox(text(Text::BellSection), general);
    bell_->setObjectName(QStringLiteral("BellSection"));
    sim_ = new QCheckBox(text(Text::Simulator), general);
    sim_->setObjectName(QStringLiteral("Simulator"));
    form->addRow(QString(), bell_);
    form->addRow(QString(), sim_);
    trace_ = new QLineEdit(general);
    trace_->setObjectName(QStringLiteral("TraceLine"));
    form->addRow(text(Text::TraceLine), trace_);
    // A computer without a time service, its clock set by hand: the terminals' clocks are set
    // from it all the same; the limit of one change still holds.
    clockManual_ = new QCheckBox(text(Text::ClockManual), general);
    clockManual_->setObjectName(QStringLiteral("ClockManual"));
    form->addRow(QString(), clockManual_);
    maxChange_ = new QSpinBox(general);
    maxChange_->setObjectName(QStringLiteral("ClockMaxChange"));
    maxChange_->setRange(0, 10 * 365 * 24 * 3600);
    maxChange_->setSingleStep(3600);
    maxChange_->setSuffix(text(Text::Seconds));
    maxChange_->setSpecialValueText(text(Text::ClockMaxChangeDefault).arg(DefaultMaxClockChangeS));
    form->addRow(text(Text::ClockMaxChange), maxChange_);
    tabs->addTab(general, text(Text::Settings));

    auto* serial = new QWidget(tabs);
    auto* serialLayout = new QHBoxLayout(serial);
    com_ = table({text(Text::ComPort), text(Text::Device)}, serial);
    com_->setObjectName(QStringLiteral("ComMap"));
    com_->setRowCount(kComPorts);
    devices_ = table({text(Text::Device), text(Text::Description), text(Text::ById)}, serial);
    devices_->setObjectName(QStringLiteral("SerialDevices"));
    devices_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    serialLayout->addWidget(com_, 2);
    serialLayout->addWidget(devices_, 3);
    tabs->addTab(serial, text(Text::SerialDevices));

    auto* tcp = new QWidget(tabs);
    auto* tcpLayout = new QVBoxLayout(tcp);
    ports_ = table({text(Text::FromPort), text(Text::ToPort)}, tcp);
    ports_->setObjectName(QStringLiteral("TcpPortMap"));
    auto* add = new QPushButton(text(Text::Add), tcp);
    auto* remove = new QPushButton(text(Text::Remove), tcp);
    auto* tcpButtons = new QHBoxLayout;
    tcpButtons->addWidget(add);
    tcpButtons->addWidget(remove);
    tcpButtons->addStretch();
    tcpLayout->addWidget(ports_, 1);
    tcpLayout->addLayout(tcpButtons);
    tabs->addTab(tcp, text(Text::TcpPortMap));

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("SettingsStatus"));
    status_->setTextFormat(Qt::PlainText); // a reason from the database
    status_->setWordWrap(true);
    top->addWidget(status_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    top->addWidget(buttons);

    connect(db_, &QLineEdit::editingFinished, this, [this] { connectionEdited(); });
    connect(test, &QPushButton::clicked, this, [this] {
        const QString problem = testDatabase();
        const QString tested = connection_.trimmed().isEmpty()
                                   ? text(Text::EmbeddedDatabase).arg(inForce_.embeddedDb)
                                   : maskPassword(connection_);
        status_->setText(problem.isEmpty() ? text(Text::DatabaseOk).arg(tested)
                                           : text(Text::DatabaseFailed).arg(problem));
    });
    connect(add, &QPushButton::clicked, this, [this] { addPortRow(0, 0); });
    connect(remove, &QPushButton::clicked, this, [this] {
        if (ports_->currentRow() >= 0)
            ports_->removeRow(ports_->currentRow());
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
    resize(760, 460);
}

void SettingsDialog::fill() {
    connection_ = saved_.db;
    db_->setText(maskPassword(connection_));
    user_->setText(saved_.user);
    siteName_->setText(saved_.siteName);
    lang_->setCurrentIndex(std::max(0, lang_->findData(saved_.lang)));
    bell_->setChecked(saved_.bellSection);
    sim_->setChecked(saved_.sim);
    trace_->setText(saved_.traceLine);
    clockManual_->setChecked(!saved_.clockRequireSynchronised);
    maxChange_->setValue(int(saved_.clockMaxChangeS));

    const QList<SerialDevice> devices = serialDevices();
    QStringList choices{QString()};
    devices_->setRowCount(int(devices.size()));
    for (int r = 0; r < devices.size(); ++r) {
        const SerialDevice& d = devices[r];
        devices_->setItem(r, 0, new QTableWidgetItem(d.path));
        devices_->setItem(r, 1, new QTableWidgetItem(d.description));
        devices_->setItem(r, 2, new QTableWidgetItem(d.byId));
        choices << (d.byId.isEmpty() ? d.path : d.byId);
    }
    devices_->resizeColumnsToContents();
    for (int n = 1; n <= kComPorts; ++n) {
        auto* item = new QTableWidgetItem(QStringLiteral("COM%1").arg(n));
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        com_->setItem(n - 1, 0, item);
        auto* device = new QComboBox(com_);
        device->setEditable(true);
        device->addItems(choices);
        QString current;
        for (const auto& [port, path] : saved_.com)
            if (port == n)
                current = path;
        device->setCurrentText(current);
        com_->setCellWidget(n - 1, 1, device);
    }
    for (const auto& [from, to] : saved_.tcpPortMap)
        addPortRow(from, to);
}

void SettingsDialog::addPortRow(int from, int to) {
    const int row = ports_->rowCount();
    ports_->insertRow(row);
    int column = 0;
    for (int value : {from, to}) {
        auto* box = new QSpinBox(ports_);
        box->setRange(0, 65535);
        box->setValue(value);
        ports_->setCellWidget(row, column++, box);
    }
}

void SettingsDialog::connectionEdited() {
    // The field shows the password masked; a text that still reads as the saved one masked is
    // the saved connection, anything else was typed in full.
    const QString shown = db_->text().trimmed();
    if (shown != maskPassword(connection_))
        connection_ = shown;
    db_->setText(maskPassword(connection_));
}

Settings SettingsDialog::settings() const {
    Settings s = saved_;
    const QString shown = db_->text().trimmed();
    s.db = shown == maskPassword(connection_) ? connection_ : shown;
    s.user = user_->text().trimmed();
    s.siteName = siteName_->text().simplified();
    s.lang = lang_->currentData().toInt();
    s.bellSection = bell_->isChecked();
    s.sim = sim_->isChecked();
    s.traceLine = trace_->text().trimmed();
    s.clockRequireSynchronised = !clockManual_->isChecked();
    s.clockMaxChangeS = maxChange_->value();
    s.com.clear();
    for (int n = 1; n <= kComPorts; ++n) {
        const auto* device = qobject_cast<QComboBox*>(com_->cellWidget(n - 1, 1));
        const QString path = device ? device->currentText().trimmed() : QString();
        if (!path.isEmpty()) {
            putPort(s.com, n, path);
            s.comWithoutDevice.removeAll(n);
        }
    }
    s.tcpPortMap.clear();
    for (int r = 0; r < ports_->rowCount(); ++r) {
        const auto* from = qobject_cast<QSpinBox*>(ports_->cellWidget(r, 0));
        const auto* to = qobject_cast<QSpinBox*>(ports_->cellWidget(r, 1));
        if (from && to && isTcpPort(from->value()) && isTcpPort(to->value()))
            putPort(s.tcpPortMap, from->value(), to->value());
    }
    return s;
}

QString SettingsDialog::testDatabase() {
    connectionEdited();
    // An empty field is the embedded default: its file is the one tested.
    const QString tried = connection_.trimmed().isEmpty() ? inForce_.embeddedDb : connection_;
    if (tried.trimmed().isEmpty())
        return QString();
    try {
        store::SqlConnection cn(tried);
        return cn.isOpen() ? QString() : maskPassword(tried);
    } catch (const Error& e) {
        // The driver's text may repeat the connection string; the password never shows.
        QString reason = e.description();
        const QString secret = connection_;
        return reason.replace(secret, maskPassword(secret));
    }
}

void SettingsDialog::setReadOnly(bool readOnly) {
    readOnly_ = readOnly;
    for (QWidget* w : findChildren<QWidget*>())
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
            qobject_cast<QCheckBox*>(w) || qobject_cast<QSpinBox*>(w) ||
            (qobject_cast<QPushButton*>(w) && !qobject_cast<QDialogButtonBox*>(w->parent())))
            w->setEnabled(!readOnly);
    for (QTableWidget* t : {com_, ports_})
        t->setEditTriggers(readOnly ? QAbstractItemView::NoEditTriggers
                                    : QAbstractItemView::DoubleClicked |
                                          QAbstractItemView::EditKeyPressed |
                                          QAbstractItemView::AnyKeyPressed);
    if (auto* buttons = findChild<QDialogButtonBox*>())
        buttons->setStandardButtons(readOnly ? QDialogButtonBox::Close
                                             : QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    status_->setText(readOnly ? text(Text::SettingsReadOnly) : QString());
}

bool SettingsDialog::keep() {
    if (readOnly_) {
        status_->setText(text(Text::SettingsReadOnly));
        return false;
    }
    const Settings s = settings();
    if (s.db != saved_.db) {
        const QString problem = testDatabase();
        if (!problem.isEmpty()) {
            status_->setText(text(Text::DatabaseFailed).arg(problem));
            return false;
        }
    }
    if (!writeSettings(s, path_)) {
        status_->setText(text(Text::SettingsNotKept).arg(path_));
        return false;
    }
    applyKeptSettings(saved_, s);
    const QStringList waiting = waitingForRestart(saved_, s);
    saved_ = s;
    keptNote_ =
        text(Text::SettingsKept).arg(path_) + QStringLiteral(" · ") +
        (waiting.isEmpty() ? text(Text::TakesEffectNow)
                           : text(Text::WaitsForRestart).arg(waiting.join(QStringLiteral("、"))));
    status_->setText(keptNote_);
    return true;
}

void SettingsDialog::accept() {
    if (keep())
        QDialog::accept();
}

} // namespace bw::host::console
