// The yardstick of brackwater-collect run as a process: a bare collector program that connects
// to the database, reads one terminal over TCP/IP in the collector's blocks and COPYs each
// batch (bare_collector.h), with none of the program's settings, checks or log.
//
//   bw-bare-collector CONNECTION TCP-PORT ADDRESS   (the terminal's port 1001 mapped to TCP-PORT)

#include "bare_collector.h"
#include "host/link/link.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    try {
        bw::store::SqlConnection cn(QString::fromLocal8Bit(argv[1]));
        bw::host::setTcpPortMap(1001, std::atoi(argv[2]));
        const qint64 stored =
            bw::bench::bareCollect(std::atoi(argv[3]), QStringLiteral("127.0.0.1"), cn);
        std::printf("%lld\n", static_cast<long long>(stored));
        return stored < 0 ? 1 : 0;
    } catch (const bw::Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 3;
    }
}
