#pragma once

#include "host/ledger/operators.h"

#include <QDialog>
#include <QString>

class QFormLayout;
class QLabel;
class QLineEdit;

namespace bw::host::console {

// A refusal of the operators' functions in the operator's language.
QString refusalText(const operators::Refused& refused);
// A right's key ("clock") in the operator's language; the key itself when it has no words.
QString rightText(const QString& key);

// The operator's sign-in on the host database: name and password. A wrong name or password,
// or a disabled operator, is refused with one message and the dialog stays; the database's
// first administrator chooses a password here at its first sign-in.
class SignInDialog : public QDialog {
public:
    SignInDialog(const QString& connection, const QString& name, QWidget* parent = nullptr);

    // The program's lock: a note says its windows wait for the operator's password.
    void setLocked(bool locked);
    // The settings file the signed-in name is kept in as the last operator; empty: none.
    void setSettingsFile(const QString& path) { settingsFile_ = path; }

    // What OK does: signs in with what the fields hold and accepts the dialog on success.
    bool attempt();
    // The operator signed in, as the database knows the name; empty before.
    QString signedIn() const { return signedIn_; }

private:
    void askFirstPassword(bool ask);
    QString lockedNote() const;
    // The first password from its two fields; empty (after saying why) when they will not do.
    QString firstPassword();

    QString connection_;
    QString settingsFile_;
    QString signedIn_;
    QString lockedName_;
    QLabel* note_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* newPassword_ = nullptr;
    QLineEdit* repeat_ = nullptr;
    QFormLayout* form_ = nullptr;
    bool asksFirst_ = false;
};

} // namespace bw::host::console
