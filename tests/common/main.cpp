#include "common/test_support.h"
#include "platform_ui/message_box.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The machine's site-wide settings (an installed package's) must not reach the tests.
    qputenv("BW_SYSTEM_SETTINGS", "/nonexistent/brackwater.conf");
    bw::test::useSynchronisedComputerClock();
    QTemporaryDir runtime; // the TCP/IP terminals' locks, also of the programs started
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QApplication app(argc, argv);
    bw::useWindowMessageBoxes(); // as the windowed programs do
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
