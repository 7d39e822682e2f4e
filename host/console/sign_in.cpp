#include "host/console/sign_in.h"

#include "host/console/console_texts.h"
#include "host/settings/settings.h"
#include "platform/error.h"
#include "platform/ui.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace bw::host::console {

QString refusalText(const operators::Refused& refused) {
    using operators::Refusal;
    static const QHash<int, Text> words{
        {int(Refusal::WrongSignIn), Text::RefusedWrongSignIn},
        {int(Refusal::NoPasswordYet), Text::RefusedNoPasswordYet},
        {int(Refusal::NotAnOperator), Text::RefusedNotAnOperator},
        {int(Refusal::NotAdministrator), Text::RefusedNotAdministrator},
        {int(Refusal::BadName), Text::RefusedBadName},
        {int(Refusal::BadPassword), Text::RefusedBadPassword},
        {int(Refusal::Exists), Text::RefusedExists},
        {int(Refusal::NoSuchOperator), Text::RefusedNoSuchOperator},
        {int(Refusal::LastAdministrator), Text::RefusedLastAdministrator},
        {int(Refusal::UnknownRight), Text::RefusedUnknownRight},
    };
    const QString said = text(words.value(int(refused.why), Text::RefusedWrongSignIn));
    // The name is what someone typed: one line, as written.
    return said.contains(QStringLiteral("%1")) ? said.arg(refused.name.simplified()) : said;
}

QString rightText(const QString& key) {
    static const QHash<QString, Text> words{
        {QStringLiteral("admin"), Text::RightAdmin},
        {QStringLiteral("add"), Text::RightAdd},
        {QStringLiteral("save"), Text::RightSave},
        {QStringLiteral("edit"), Text::RightEdit},
        {QStringLiteral("delete"), Text::RightDelete},
        {QStringLiteral("test"), Text::RightTest},
        {QStringLiteral("clock"), Text::RightClock},
        {QStringLiteral("bells"), Text::RightBells},
        {QStringLiteral("init"), Text::RightInit},
        {QStringLiteral("collect"), Text::RightCollect},
        {QStringLiteral("clear"), Text::RightClear},
        {QStringLiteral("names"), Text::RightNames},
        {QStringLiteral("cards"), Text::RightCards},
    };
    const auto found = words.constFind(key);
    return found == words.cend() ? key : text(*found);
}

namespace {

QLineEdit* passwordField(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setEchoMode(QLineEdit::Password);
    return field;
}

// A database's reason on one line; the box shows it as plain text.
QString reasonOf(const std::exception& e) {
    const auto* error = dynamic_cast<const Error*>(&e);
    const QString reason = error ? error->description() : QString::fromLocal8Bit(e.what());
    return reason.simplified().isEmpty() ? QStringLiteral("?") : reason.simplified();
}

} // namespace

SignInDialog::SignInDialog(const QString& connection, const QString& name, QWidget* parent)
    : QDialog(parent), connection_(connection) {
    setObjectName(QStringLiteral("SignIn"));
    setWindowTitle(text(Text::SignIn));
    auto* layout = new QVBoxLayout(this);
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("Note"));
    note_->setTextFormat(Qt::PlainText);
    note_->setWordWrap(true);
    note_->hide();
    layout->addWidget(note_);
    form_ = new QFormLayout;
    name_ = new QLineEdit(name, this);
    name_->setObjectName(QStringLiteral("Name"));
    password_ = passwordField("Password", this);
    form_->addRow(text(Text::OperatorField), name_);
    form_->addRow(text(Text::Password), password_);
    // The first password's fields, in the same form so that the labels line up.
    newPassword_ = passwordField("NewPassword", this);
    repeat_ = passwordField("RepeatPassword", this);
    form_->addRow(text(Text::NewPassword), newPassword_);
    form_->addRow(text(Text::RepeatPassword), repeat_);
    form_->setRowVisible(newPassword_, false);
    form_->setRowVisible(repeat_, false);
    layout->addLayout(form_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { attempt(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Another name is another operator: its own password, not the first one's; a name that
    // signs in for the first time is told so before anything else is typed.
    connect(name_, &QLineEdit::textEdited, this, [this] { askFirstPassword(false); });
    connect(name_, &QLineEdit::editingFinished, this, [this] {
        askFirstPassword(operators::needsFirstPassword(connection_, name_->text().trimmed()));
    });
    (name.isEmpty() ? name_ : password_)->setFocus();
    setMinimumWidth(360);
    askFirstPassword(operators::needsFirstPassword(connection_, name.trimmed()));
}

void SignInDialog::setLocked(bool locked) {
    lockedName_ = locked ? name_->text() : QString();
    note_->setText(lockedNote());
    note_->setVisible(locked);
}

void SignInDialog::askFirstPassword(bool ask) {
    if (asksFirst_ == ask)
        return;
    asksFirst_ = ask;
    form_->setRowVisible(newPassword_, ask);
    form_->setRowVisible(repeat_, ask);
    // Only the new password's fields: there is no password yet to type.
    form_->setRowVisible(password_, !ask);
    note_->setText(ask ? text(Text::FirstPassword).arg(name_->text().simplified()) : lockedNote());
    note_->setVisible(ask || !lockedName_.isEmpty());
    newPassword_->clear();
    repeat_->clear();
    if (ask)
        newPassword_->setFocus();
    adjustSize();
}

QString SignInDialog::lockedNote() const {
    return lockedName_.isEmpty() ? QString() : text(Text::LockedNote).arg(lockedName_.simplified());
}

QString SignInDialog::firstPassword() {
    const QString chosen = newPassword_->text();
    const bool empty = chosen.isEmpty(), differ = chosen != repeat_->text();
    if (empty || differ) {
        MsgBox(text(empty ? Text::PasswordEmpty : Text::PasswordsDiffer), mb::Exclamation,
               windowTitle());
        newPassword_->clear();
        repeat_->clear();
        newPassword_->setFocus();
        return QString();
    }
    return chosen;
}

bool SignInDialog::attempt() {
    const QString name = name_->text().trimmed();
    QString password = password_->text();
    try {
        if (asksFirst_) {
            password = firstPassword();
            if (password.isEmpty())
                return false;
            operators::setFirstPassword(connection_, name, password);
        }
        signedIn_ = operators::signIn(connection_, name, password);
    } catch (const operators::Refused& refused) {
        if (refused.why == operators::Refusal::NoPasswordYet && !asksFirst_) {
            askFirstPassword(true);
            return false;
        }
        MsgBox(refusalText(refused), mb::Exclamation, windowTitle());
        password_->clear();
        password_->setFocus();
        return false;
    } catch (const std::exception& e) {
        MsgBox(text(Text::SignInFailed).arg(reasonOf(e)), mb::Critical, windowTitle());
        return false;
    }
    if (!settingsFile_.isEmpty())
        keepLastOperator(signedIn_, settingsFile_);
    accept();
    return true;
}

} // namespace bw::host::console
