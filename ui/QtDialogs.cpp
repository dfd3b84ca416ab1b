#include "QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

void TQtDialogs::ShowMessage(const std::string& text) {
    QMessageBox::information(FOwner, QApplication::applicationName(), QString::fromStdString(text));
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
