#include "ui/QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

// Messages carry device paths and file names: they are shown as text, never as markup.
QMessageBox::StandardButton showBox(QWidget* owner, QMessageBox::Icon icon, const std::string& text,
                                    QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, QApplication::applicationName(), QString::fromStdString(text), buttons,
                    owner);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

// A plain box: no icon, only OK, titled with the application's name.
void TQtDialogs::ShowMessage(const std::string& text) {
    showBox(FOwner, QMessageBox::NoIcon, text, QMessageBox::Ok, QMessageBox::Ok);
}

TDialogs::Answer TQtDialogs::AskYesNo(const std::string& text) {
    const auto button = showBox(FOwner, QMessageBox::Question, text,
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return button == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void TQtDialogs::ShowError(const std::string& text) {
    showBox(FOwner, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

// The dialog asks before replacing an existing file: a silent overwrite could lose a capture
// saved earlier.
std::string TQtDialogs::AskSaveFileName(const std::string& startDir) {
    return QFileDialog::getSaveFileName(FOwner, QString(), QString::fromStdString(startDir))
        .toStdString();
}

std::string TQtDialogs::AskOpenFileName(const std::string& startDir) {
    return QFileDialog::getOpenFileName(FOwner, QString(), QString::fromStdString(startDir))
        .toStdString();
}
