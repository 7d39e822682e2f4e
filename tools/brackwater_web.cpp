// brackwater-web: the site's status, meals, month and operation log in a browser, over HTTPS,
// for the operators of the host database, and the same as JSON for programs with a token.
//
//   brackwater-web [--db CONNECTION] [--listen ADDRESS:PORT] [--state-dir DIR] [--demo]
//
// The certificate and key are the settings file's [web] cert and key, else a self-signed pair
// made at the first start in the state folder; its SHA-256 fingerprint is printed at the start.

#include "host/cli/host_options.h"
#include "host/ledger/ledger.h"
#include "host/ledger/schema.h"
#include "host/settings/settings.h"
#include "host/web/site_view.h"
#include "host/web/tls_pair.h"
#include "host/web/web_server.h"
#include "host/web/web_settings.h"
#include "platform/error.h"
#include "store/sql_connection.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSslSocket>
#include <QStandardPaths>
#include <csignal>
#include <cstdio>

namespace {

int fail(int code, const QString& message) {
    std::fprintf(stderr, "brackwater-web: %s\n", message.toUtf8().constData());
    return code;
}

// The folder the self-signed pair is kept in: systemd's state folder for the service, else the
// user's data folder.
QString stateDir(const QString& given) {
    if (!given.isEmpty())
        return given;
    const QByteArray systemd = qgetenv("STATE_DIRECTORY");
    if (!systemd.isEmpty())
        return QString::fromLocal8Bit(systemd.split(':').first());
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Brackwater/web");
}

// --demo: the --db SQLite file made with the demo terminals when it is not there; 0 when done.
int makeDemoDatabase(const QString& file) {
    if (file.isEmpty() || file.contains(QLatin1Char('=')))
        return fail(2, QStringLiteral("--demo needs --db FILE, an SQLite file"));
    if (QFileInfo::exists(file))
        return 0;
    try {
        bw::store::SqlConnection cn(file, bw::store::Create::Yes);
        bw::host::createHostSchema(cn, true);
    } catch (const bw::Error& e) {
        return fail(3, QStringLiteral("cannot make the demo database: ") + e.description());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bw::host::registerDbComponents();
    QCoreApplication::setApplicationName(QStringLiteral("brackwater-web"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BW_VERSION));
    QLoggingCategory::setFilterRules(
        QStringLiteral("brackwater.port.open.warning=false\nbw.line=false\nqt.network.ssl=false"));
    std::signal(SIGPIPE, SIG_IGN);

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "The site's status, meals, month and operation log in a browser over HTTPS, read-only, "
        "for its operators; /api/v1/... for programs with a token (brackwater-site token add)."));
    p.addHelpOption();
    p.addVersionOption();
    const bw::host::LineOptions lines;
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address and port (default [web] listen, "
                                                   "else 127.0.0.1:8443)."),
                                    QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption state(QStringLiteral("state-dir"),
                                   QStringLiteral("Folder of the self-signed certificate."),
                                   QStringLiteral("DIR"));
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Make the --db SQLite file with the demo terminals when it is not there."));
    p.addOptions(lines.list());
    p.addOptions({listen, state, demo});
    if (!p.parse(QCoreApplication::arguments()))
        return fail(2, p.errorText());
    if (p.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return 0;
    }
    if (p.isSet(QStringLiteral("version"))) {
        std::printf("brackwater-web %s\n", BW_VERSION);
        return 0;
    }
    if (!p.positionalArguments().isEmpty())
        return fail(2, QStringLiteral("no arguments but options"));
    if (p.isSet(demo))
        if (const int rc = makeDemoDatabase(p.value(lines.db)); rc != 0)
            return rc;
    bw::host::LineSetup setup;
    QString wrong;
    if (!bw::host::applyLineOptions(p, lines, setup, wrong))
        return fail(2, wrong);
    if (!setup.missingDatabase.isEmpty())
        return fail(3, setup.missingDatabase);
    QStringList problems;
    bw::host::web::WebSettings web =
        bw::host::web::readWebSettings(bw::host::settingsFileInUse(), &problems);
    for (const QString& problem : problems)
        std::fprintf(stderr, "settings: %s\n", problem.toUtf8().constData());
    if (p.isSet(listen) && !bw::host::web::parseListen(p.value(listen), web.address, web.port))
        return fail(2, QStringLiteral("--listen takes ADDRESS:PORT"));
    if (!QSslSocket::supportsSsl())
        return fail(1, QStringLiteral("Qt's TLS back end is not there"));

    QString problem;
    const bw::host::web::TlsPair tls =
        bw::host::web::tlsPair(web.cert, web.key, stateDir(p.value(state)), problem);
    if (!problem.isEmpty())
        return fail(1, problem);

    const auto site =
        bw::host::web::siteView(setup.connection, bw::host::HostOptions().caption, setup.meals);
    bw::host::web::ServerSettings settings;
    settings.idleMinutes = web.idleMinutes;
    settings.tls = tls.configuration;
    bw::host::web::WebServer server(*site, settings);
    if (!server.listen(web.address, web.port))
        return fail(1, QStringLiteral("cannot listen on %1:%2: %3")
                           .arg(web.address.toString())
                           .arg(web.port)
                           .arg(server.errorString()));
    site->status(true);
    std::printf("certificate SHA-256 %s%s\nlistening on https://%s:%u/\n",
                tls.fingerprint.toUtf8().constData(), tls.made ? " (made now)" : "",
                web.address.toString().toUtf8().constData(), unsigned(server.serverPort()));
    std::fflush(stdout);
    return app.exec();
}
