#pragma once

#include "host/settings/settings.h"

#include <QDialog>
#include <QList>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTableWidget;

namespace bw::host::console {

// A serial device the system sees, as the operator recognises it.
struct SerialDevice {
    QString path;        // /dev/ttyUSB0
    QString description; // the maker's text for the adapter
    QString byId;        // /dev/serial/by-id/… that stays with the adapter, empty when none
};
QList<SerialDevice> serialDevices();

// The settings file in a dialog: the database connection (opened before it is kept, its
// password masked), the operator, the language, COMn → device beside the serial devices the
// system sees, the TCP port map, the bell section and the line trace. What is kept is written
// by writeSettings, as --save-settings writes it.
// What the running program works with, which may differ from the file (the command line's
// database, a simulator it started, its COM devices).
struct SettingsInForce {
    QString connection; // the database in use
    QString embeddedDb; // the embedded default's file, tested for an empty field
    QString simulator;  // where a simulator started by the program listens; empty: none
};

// The lines the dialog shows for what is in force; COM ports whose device differs from the
// one a port number gives by itself are listed.
QStringList inForceLines(const SettingsInForce& inForce);

// Puts in force what a kept change of the settings can change in the running program: the COM
// devices and TCP ports that changed (a mapping the program made itself, such as its
// simulator's, stays unless that very entry changed) and the clock guard's choices.
void applyKeptSettings(const Settings& before, const Settings& after);
// The names, in the operator's language, of the changed settings that wait for the next start.
QStringList waitingForRestart(const Settings& before, const Settings& after);

class SettingsDialog : public QDialog {
public:
    explicit SettingsDialog(const QString& path, QWidget* parent = nullptr);

    // The settings as the fields give them now.
    Settings settings() const;
    // Opens the database connection of the field; empty when it opens, else why not.
    QString testDatabase();
    // Tests a changed database and writes the file; false (and the reason shown) when the
    // database cannot be opened or the file cannot be written.
    bool keep();
    // The connection string the field stands for (the field shows it masked).
    QString connection() const { return connection_; }

    void showInForce(const SettingsInForce& inForce);
    // Shows the settings without letting them change (an operator who is no administrator).
    void setReadOnly(bool readOnly);
    // What the last keep did: the file, and what is in force or waits for the next start.
    QString keptNote() const { return keptNote_; }

    void accept() override;

private:
    void build();
    void fill();
    void connectionEdited();
    void addPortRow(int from, int to);

    QString path_;
    Settings saved_;
    QString connection_;
    SettingsInForce inForce_;
    QLabel* inForceLabel_ = nullptr;
    QLineEdit* db_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* siteName_ = nullptr;
    QComboBox* lang_ = nullptr;
    QTableWidget* com_ = nullptr;
    QTableWidget* devices_ = nullptr;
    QTableWidget* ports_ = nullptr;
    QCheckBox* bell_ = nullptr;
    QCheckBox* sim_ = nullptr;
    QLineEdit* trace_ = nullptr;
    QCheckBox* clockManual_ = nullptr;
    QSpinBox* maxChange_ = nullptr;
    QLabel* status_ = nullptr;
    QString keptNote_;
    bool readOnly_ = false;
};

} // namespace bw::host::console
