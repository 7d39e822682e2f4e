#include "platform_ui/message_box.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTextDocument>

namespace bw {

namespace {

QMessageBox::StandardButton buttonOf(int answer) {
    switch (answer) {
    case mb::Yes:
        return QMessageBox::Yes;
    case mb::No:
        return QMessageBox::No;
    case mb::Cancel:
        return QMessageBox::Cancel;
    default:
        return QMessageBox::Ok;
    }
}

class QtMessageBox : public IMessageBox {
public:
    int MsgBox(const QString& text, int style, const QString& title) override {
        QMessageBox box;
        // Messages carry typed text (terminal numbers, port texts, database errors): never
        // let Qt take a "<b>" in it for markup.
        box.setTextFormat(Qt::PlainText);
        box.setText(text);
        box.setWindowTitle(title.isEmpty() ? QCoreApplication::applicationName() : title);
        switch (style & 0x70) {
        case mb::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        case mb::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case mb::Exclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case mb::Information:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            box.setIcon(QMessageBox::NoIcon);
        }
        // The style's buttons, Enter pressing the one its default-button bits choose.
        QMessageBox::StandardButtons all;
        for (int answer : boxButtons(style))
            all |= buttonOf(answer);
        box.setStandardButtons(all);
        box.setDefaultButton(buttonOf(defaultAnswer(style)));
        switch (box.exec()) {
        case QMessageBox::Yes:
            return mb::Yes;
        case QMessageBox::No:
            return mb::No;
        case QMessageBox::Cancel:
            return mb::Cancel;
        default:
            return mb::OK;
        }
    }
    void Beep() override { QApplication::beep(); }
    QString FileName(bool save, const QString& title, const QString& suggested,
                     const QString& filter) override;
};

// Qt's own dialog, so that it speaks the program's language rather than the desktop's,
// opening in the user's documents folder with the suggested name.
QString QtMessageBox::FileName(bool save, const QString& title, const QString& suggested,
                               const QString& filter) {
    QFileDialog dialog(QApplication::activeWindow(), title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!filter.isEmpty())
        dialog.setNameFilter(filter);
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    dialog.setDirectory(folder);
    if (!suggested.isEmpty())
        dialog.selectFile(suggested);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

QtMessageBox windowBox;

} // namespace

void useWindowMessageBoxes() {
    setDefaultUi(&windowBox);
}

QString plainToolTip(const QString& text) {
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpacePre) : text;
}

} // namespace bw
