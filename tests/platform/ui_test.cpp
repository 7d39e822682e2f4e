#include "platform/ui.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

// Typed text in a message box stays text: a "<b>" in a terminal number is not markup.
TEST(MessageBox, ShowsItsTextPlain) {
    Qt::TextFormat format = Qt::RichText;
    QTimer poll; // until the box is up
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            format = box->textFormat();
            box->close();
        }
    });
    poll.start(20);
    bw::MsgBox(QStringLiteral("<b>5</b>"), bw::mb::OKOnly, QString());
    EXPECT_EQ(format, Qt::PlainText);
}
