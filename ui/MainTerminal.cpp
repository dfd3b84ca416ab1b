// The terminal: report blocks of what the device sends, clearing and saving them, capturing
// every report to a file, and the raw hexadecimal and text sends.

#include "ui/MainU.h"

#include "platform/base/Convert.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kAsciiCapacity = 63; // Data[1] to Data[63]

// The terminal's lines: one per text block, none for an empty terminal.
QStringList terminalLines(const QPlainTextEdit* memo) {
    QStringList lines;
    const QTextDocument* document = memo->document();
    if (document->isEmpty())
        return lines;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        lines << block.text();
    return lines;
}

// Every line followed by CR LF, in ISO-8859-1 ('?' for what it lacks). An empty message when
// the file was written, otherwise the reason it was not.
std::string saveLines(const QStringList& lines, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return std::strerror(errno);
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toLatin1() + "\r\n";
    const bool written = std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()),
                                     file) == static_cast<std::size_t>(bytes.size());
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written)
        return std::strerror(writeError);
    if (!closed)
        return std::strerror(errno);
    return {};
}

// Past the bound, the oldest lines go in one edit, down to a hundredth below it, so a flooded
// terminal trims once per many reports rather than once per report. The cursor is placed rather
// than moved line by line, since moving lays out each line it passes, and that layout was most
// of the cost of the text box's own bound. A user reading further up keeps the same lines in
// view. How many lines went.
int trimOldestLines(QPlainTextEdit* memo, int bound) {
    QTextDocument* document = memo->document();
    const int excess = document->blockCount() - bound;
    if (excess <= 0)
        return 0;
    const int removed = excess + bound / 100;
    QScrollBar* scrollBar = memo->verticalScrollBar();
    const int shown = scrollBar->value();
    const bool following = shown == scrollBar->maximum();
    QTextCursor cursor(document);
    cursor.setPosition(document->findBlockByNumber(removed).position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    if (!following)
        scrollBar->setValue(std::max(0, shown - removed));
    return removed;
}

} // namespace

// The text box keeps at most FTerminalLines lines; what went is counted and shown beside the
// box, so a trimmed view says so.
void TFormMain::AppendTerminalLines(const std::vector<std::string>& lines) {
    QStringList text;
    for (const std::string& line : lines)
        text << QString::fromStdString(line);
    Memo1->appendPlainText(text.join('\n'));
    const int trimmed = trimOldestLines(Memo1, FTerminalLines);
    if (trimmed == 0)
        return;
    FTrimmedLines += trimmed;
    lblTrimmed->setText(QString("%1 older lines left the view").arg(FTrimmedLines));
}

void TFormMain::DeviceRead(THidDevice*, BYTE, const BYTE* Data, USHORT Size) {
    std::vector<std::string> block = ReportBlockLines(Data, Size);
    block.emplace_back();
    AppendTerminalLines(block);
}

void TFormMain::btnClearClick() {
    Memo1->clear();
    FTrimmedLines = 0;
    lblTrimmed->clear();
}

void TFormMain::btnSaveClick() {
    const std::string path = FDialogs.AskSaveFileName(FWorkingDir.toStdString());
    if (path.empty())
        return;
    const std::string failure = saveLines(terminalLines(Memo1), path);
    if (!failure.empty())
        FDialogs.ShowError("Cannot create file \"" + path + "\". " + failure);
}

void TFormMain::btnCaptureClick() {
    if (FCapture) {
        StopCapture(FCapture->Stop());
        return;
    }
    const std::string path = FDialogs.AskSaveFileName(FWorkingDir.toStdString());
    if (path.empty())
        return;
    std::string failure;
    // The capture tells of a failed write on this thread; by then the window may have moved on
    // to another capture, which must go on.
    auto capture = THidCapture::Start(
        path,
        [this, self = std::weak_ptr<TFormMain*>(FSelf), path](const std::string& reason) {
            if (!self.lock() || !FCapture || FCapture->Path() != path)
                return;
            StopCapture(reason);
        },
        failure);
    if (!capture) {
        FDialogs.ShowError("Cannot create file \"" + path + "\". " + failure);
        return;
    }
    FCapture = std::move(capture);
    HidControl->SetCapture(FCapture);
    btnCapture->setText("Stop Capture");
}

void TFormMain::StopCapture(const std::string& failure) {
    const std::string path = FCapture->Path();
    HidControl->SetCapture(nullptr);
    FCapture.reset();
    btnCapture->setText("Start Capture...");
    if (!failure.empty())
        FDialogs.ShowError("Cannot write file \"" + path + "\". " + failure +
                           ". The capture has stopped.");
}

void TFormMain::keepHexTexts() {
    for (int n = 0; n < 8; ++n)
        connect(Edit[n], &QLineEdit::textChanged, this, [copy = FHexTexts, n](const QString& text) {
            std::lock_guard lock(copy->mutex);
            copy->texts[n] = text.toStdString();
        });
}

void TFormMain::btnSendClick() {
    TDeviceCommand command;
    command.Prepare = [copy = FHexTexts](TReport& HidData) {
        std::array<std::string, 8> texts;
        {
            std::lock_guard lock(copy->mutex);
            texts = copy->texts;
        }
        for (int n = 0; n < 8; ++n)
            HidData.Data[n] = static_cast<std::uint8_t>(StrToInt("$" + texts[n]) & 0xFF);
    };
    command.Handler = THidDataEvent(this, &TFormMain::DeviceRead);
    StartDeviceCommand(CurrentDevice(), std::move(command));
}

// Character i of the text goes into Data[i] as the low byte of its UTF-16 unit. A text longer
// than the report holds is not sent at all, and the user is told why.
void TFormMain::btnSendASCIIClick() {
    TDeviceCommand command;
    command.Complete = [this](TReport& HidData) {
        const QString text = edtAscii->text();
        if (text.size() > kAsciiCapacity) {
            FDialogs.ShowMessage("The text is too long to send: a report holds at most " +
                                 std::to_string(kAsciiCapacity) + " characters.");
            throw Exception("text too long to send");
        }
        for (int i = 1; i <= text.size(); ++i)
            HidData.Data[i] = static_cast<std::uint8_t>(text.at(i - 1).unicode() & 0xFF);
    };
    command.Handler = THidDataEvent(this, &TFormMain::DeviceRead);
    StartDeviceCommand(CurrentDevice(), std::move(command));
}
