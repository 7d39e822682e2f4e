#include "host/console/help.h"

#include "host/console/console_texts.h"
#include "host/settings/settings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace bw::host::console {

QString aboutText(const QString& connection, const QString& settingsFile) {
    const QString db =
        connection.trimmed().isEmpty() ? QStringLiteral("(SQLite)") : maskPassword(connection);
    return QStringList{text(Text::Title), text(Text::Version).arg(QStringLiteral(BW_VERSION)),
                       text(Text::DatabaseInUse).arg(db),
                       text(Text::SettingsFile).arg(settingsFile)}
        .join(QLatin1Char('\n'));
}

QString manualText() {
    if (!QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty()) {
        QProcess man;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("96"));
        env.insert(QStringLiteral("MAN_KEEP_FORMATTING"), QStringLiteral("0"));
        man.setProcessEnvironment(env);
        man.start(QStringLiteral("man"),
                  {QStringLiteral("-P"), QStringLiteral("cat"), QStringLiteral("brackwater")});
        if (man.waitForFinished(5000) && man.exitStatus() == QProcess::NormalExit &&
            man.exitCode() == 0) {
            const QString page = QString::fromLocal8Bit(man.readAllStandardOutput());
            if (!page.trimmed().isEmpty())
                return page;
        } else {
            man.kill();
            man.waitForFinished();
        }
    }
    const QDir dir(QApplication::applicationDirPath());
    for (const QString& path : {dir.filePath(QStringLiteral("../README.md")),
                                dir.filePath(QStringLiteral("README.md"))}) {
        QFile readme(path);
        if (readme.open(QIODevice::ReadOnly))
            return QString::fromUtf8(readme.read(1 << 20));
    }
    return QString();
}

void showManual(QWidget* parent) {
    auto* window = new QWidget(parent, Qt::Window);
    window->setObjectName(QStringLiteral("Manual"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(text(Text::Manual));
    auto* layout = new QVBoxLayout(window);
    auto* view = new QPlainTextEdit(window);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    view->setFont(mono);
    view->setPlainText(manualText());
    layout->addWidget(view);
    window->resize(820, 600);
    window->show();
}

} // namespace bw::host::console
