#include "common/test_support.h"

#include "platform/clock_guard.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace bw::test {

void useSynchronisedComputerClock() {
    setComputerClockQuery([] { return ComputerClock{QDateTime::currentDateTime(), true}; });
}

QString buildDir() {
    const QString env = qEnvironmentVariable("BW_BUILD_DIR");
    if (!env.isEmpty())
        return env;
    // Test programs live in <build>/tests.
    return QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/..")).absolutePath();
}

QString sourceDir() {
    // The source tree the tests were built from, wherever the build folder is.
    const QString env = qEnvironmentVariable("BW_SOURCE_DIR");
    return env.isEmpty() ? QStringLiteral(BW_TEST_SOURCE_DIR) : env;
}

QString program(const QString& name) {
    return buildDir() + QLatin1Char('/') + name;
}

QString tempDir() {
    static std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    dirs.push_back(std::make_unique<QTemporaryDir>());
    return dirs.back()->path();
}

} // namespace bw::test
