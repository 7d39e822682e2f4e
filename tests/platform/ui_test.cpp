#include "platform/ui.h"
#include "platform_ui/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

// Typed text in a message box stays text: a "<b>" in a terminal number is not markup. Enter
// presses the default button the style names.
TEST(MessageBox, ShowsItsTextPlainAndEnterPressesTheDefault) {
    Qt::TextFormat format = Qt::RichText;
    QTimer poll; // until the box is up
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            format = box->textFormat();
            QTest::keyClick(box, Qt::Key_Return);
        }
    });
    poll.start(20);
    EXPECT_EQ(bw::MsgBox(QStringLiteral("<b>5</b>"), bw::mb::YesNo | bw::mb::DefaultButton2),
              bw::mb::No);
    EXPECT_EQ(format, Qt::PlainText);
}

// Without windows a box says its text on standard error and answers with the button Enter
// would press; no file can be chosen.
TEST(MessageBox, WithoutWindowsAnswersTheDefaultButton) {
    using namespace bw::mb;
    bw::setDefaultUi(nullptr);
    const std::pair<int, int> cases[] = {{OKOnly, OK},
                                         {Critical | YesNo, Yes},
                                         {YesNo | DefaultButton2, No},
                                         {3 | 2 * DefaultButton2, Cancel},
                                         {1 | DefaultButton2, Cancel},
                                         {YesNo | 3 * DefaultButton2, Yes},
                                         {15, OK}};
    for (const auto& [style, answer] : cases)
        EXPECT_EQ(bw::MsgBox(QStringLiteral("<b>5</b>"), style), answer) << style;
    EXPECT_TRUE(bw::askSaveFile(QStringLiteral("t"), QStringLiteral("x.csv"), QString()).isEmpty());
    bw::useWindowMessageBoxes();
}
