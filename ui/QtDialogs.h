#pragma once
// The dialogs a user sees: Qt message boxes and the save-file dialog, parented to `owner`.

#include "platform/base/Dialogs.h"

class QWidget;

class TQtDialogs : public TDialogs {
public:
    void setOwner(QWidget* owner) { FOwner = owner; }

    void ShowMessage(const std::string& text) override;
    Answer AskYesNo(const std::string& text) override;
    void ShowError(const std::string& text) override;
    std::string AskSaveFileName(const std::string& startDir) override;
    std::string AskOpenFileName(const std::string& startDir) override;

private:
    QWidget* FOwner = nullptr;
};
