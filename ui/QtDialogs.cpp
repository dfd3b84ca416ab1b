#include "ui/QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

// A plain box: no icon, only OK, titled with the application's name.
void TQtDialogs::ShowMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(),
                    QString::fromStdString(text), QMessageBox::Ok, FOwner);
    box.exec();
}

TDialogs::Answer TQtDialogs::AskYesNo(const std::string& text) {
    const auto button =
        QMessageBox::question(FOwner, QApplication::applicationName(), QString::fromStdString(text),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return button == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void TQtDialogs::ShowError(const std::string& text) {
    QMessageBox::critical(FOwner, QApplication::applicationName(), QString::fromStdString(text));
}

std::string TQtDialogs::AskSaveFileName(const std::string& startDir) {
    return QFileDialog::getSaveFileName(FOwner, QString(), QString::fromStdString(startDir))
        .toStdString();
}
