// The yardstick of the programs' start: a bare QCoreApplication program that answers
// --version as they do, and nothing else.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bw-bare-version"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BW_VERSION));
    QCommandLineParser p;
    p.addHelpOption();
    const QCommandLineOption version = p.addVersionOption();
    if (!p.parse(app.arguments()))
        return 2;
    if (p.isSet(version))
        std::printf("bw-bare-version %s\n", qPrintable(QCoreApplication::applicationVersion()));
    return 0;
}
