#pragma once
// Every message box and file dialog of the tool goes through this interface, so the window's
// logic runs the same under tests, which answer the dialogs, as in front of a user.

#include <string>

class TDialogs {
public:
    enum class Answer { Yes, No };

    virtual ~TDialogs() = default;
    // A plain message box with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;
    // A box with Yes and No buttons.
    virtual Answer AskYesNo(const std::string& text) = 0;
    // The application's default error box for an error nobody else handled.
    virtual void ShowError(const std::string& text) = 0;
    // The save-file dialog, opened in startDir. Empty when the user cancelled.
    virtual std::string AskSaveFileName(const std::string& startDir) = 0;
    // The open-file dialog, opened in startDir. Empty when the user cancelled, as here, where a
    // front end offers no such dialog.
    virtual std::string AskOpenFileName(const std::string& startDir) {
        (void)startDir;
        return {};
    }
};
