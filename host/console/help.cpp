#include "host/console/help.h"

#include "host/console/console_texts.h"
#include "host/settings/settings.h"
#include "platform/language.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QUrl>
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

QString stripOverstrike(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c != QLatin1Char('\b')) {
            // The character after a backspace replaces the one before it, except an
            // underscore, which only underlines what it is struck over.
            if (!out.isEmpty() && out.back() == QLatin1Char('\b')) {
                out.chop(1);
                if (c == QLatin1Char('_') && !out.isEmpty())
                    continue;
                if (!out.isEmpty())
                    out.chop(1);
            }
            out.append(c);
        } else if (!out.isEmpty() && out.back() != QLatin1Char('\b')) {
            out.append(c);
        }
    }
    if (!out.isEmpty() && out.back() == QLatin1Char('\b'))
        out.chop(1);
    return out;
}

namespace {

// The source tree of a program run from the build folder it was built in (wherever that
// folder is), else empty: an installed program finds its files beside it.
QString sourceTreeOf(const QString& programDir) {
    const QString built = QFileInfo(QStringLiteral(BW_BUILD_TREE)).canonicalFilePath();
    return !built.isEmpty() && QFileInfo(programDir).canonicalFilePath() == built
               ? QStringLiteral(BW_SOURCE_TREE)
               : QString();
}

} // namespace

QString manualPage(int lang, const QString& programDir) {
    const QString language =
        lang == LangTraditional ? QStringLiteral("zh_TW") : QStringLiteral("zh_CN");
    QStringList folders{
        QDir(programDir).filePath(QStringLiteral("../share/doc/brackwater/manual"))};
    if (const QString source = sourceTreeOf(programDir); !source.isEmpty())
        folders << source + QStringLiteral("/docs/manual");
    for (const QString& folder : folders) {
        const QFileInfo page(folder + QLatin1Char('/') + language + QStringLiteral("/index.html"));
        if (page.isFile())
            return page.canonicalFilePath();
    }
    return QString();
}

QString manualText() {
    if (!QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty()) {
        QProcess man;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("96"));
        // man-db keeps the overstrike when this is set at all, to any value.
        env.remove(QStringLiteral("MAN_KEEP_FORMATTING"));
        man.setProcessEnvironment(env);
        man.start(QStringLiteral("man"),
                  {QStringLiteral("-P"), QStringLiteral("cat"), QStringLiteral("brackwater")});
        if (man.waitForFinished(5000) && man.exitStatus() == QProcess::NormalExit &&
            man.exitCode() == 0) {
            const QString page =
                stripOverstrike(QString::fromLocal8Bit(man.readAllStandardOutput()));
            if (!page.trimmed().isEmpty())
                return page;
        } else {
            man.kill();
            man.waitForFinished();
        }
    }
    QStringList readmes{
        QDir(QApplication::applicationDirPath()).filePath(QStringLiteral("README.md"))};
    if (const QString source = sourceTreeOf(QApplication::applicationDirPath()); !source.isEmpty())
        readmes.prepend(source + QStringLiteral("/README.md"));
    for (const QString& path : readmes) {
        QFile readme(path);
        if (readme.open(QIODevice::ReadOnly))
            return QString::fromUtf8(readme.read(1 << 20));
    }
    return QString();
}

void showManual(QWidget* parent, const QString& programDir) {
    auto* window = new QWidget(parent, Qt::Window);
    window->setObjectName(QStringLiteral("Manual"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(text(Text::Manual));
    auto* layout = new QVBoxLayout(window);
    auto* view = new QTextBrowser(window);
    view->setObjectName(QStringLiteral("ManualView"));
    // Links inside the manual open in the browser; none leaves it for another program.
    view->setOpenExternalLinks(false);
    const QString page = manualPage(
        uiLanguage(), programDir.isEmpty() ? QApplication::applicationDirPath() : programDir);
    if (!page.isEmpty()) {
        view->setSource(QUrl::fromLocalFile(page));
    } else {
        view->setLineWrapMode(QTextEdit::NoWrap);
        QFont mono(QStringLiteral("monospace"));
        mono.setStyleHint(QFont::Monospace);
        view->setFont(mono);
        view->setPlainText(manualText());
    }
    layout->addWidget(view);
    window->resize(900, 680);
    window->show();
}

} // namespace bw::host::console
