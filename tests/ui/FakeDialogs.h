#pragma once
// Answers the window's dialogs without a modal loop and records what the user would have seen.

#include "platform/base/Dialogs.h"

#include <string>
#include <vector>

class FakeDialogs : public TDialogs {
public:
    std::vector<std::string> messages;
    std::vector<std::string> errors;
    std::vector<std::string> questions;
    Answer answer = Answer::No;
    std::string saveFileName; // empty: the user cancels
    std::vector<std::string> saveStartDirs;
    std::string openFileName; // empty: the user cancels

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    Answer AskYesNo(const std::string& text) override {
        questions.push_back(text);
        return answer;
    }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    std::string AskSaveFileName(const std::string& startDir) override {
        saveStartDirs.push_back(startDir);
        return saveFileName;
    }
    std::string AskOpenFileName(const std::string&) override { return openFileName; }
};
