#include "platform/ui.h"

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
