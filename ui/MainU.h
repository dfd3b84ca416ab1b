#pragma once
// The tool's one window: the "Configure" page with the locator's configuration rows, the
// "Terminal" page, the connection strip and the status bar. Handlers keep the names under
// which the rest of the tool knows them; window-free logic lives in locator/.

#include "hid/HidControllerClass.h"
#include "locator/DeviceAccess.h"
#include "locator/DeviceCommand.h"
#include "locator/LocatorAnswer.h"
#include "platform/base/Dialogs.h"
#include "platform/device/DeviceLock.h"

#include <QChar>
#include <QList>
#include <QString>
#include <QWidget>

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolButton;
class QMenu;
class QtEventLoop;

// One accepted device of the last enumeration: USB identifiers, the name shown in the menu, and
// which device it was made from: the interface's path, and its serial number (empty when it
// gives none), which tells devices of one name apart.
struct THIDSettings {
    int VID = 0;
    int PID = 0;
    std::string DeviceName;
    std::u16string DevicePath;
    std::u16string SerialNumber;
};

// What start-up read for the window: the executable it runs as (its folder is the working
// folder; empty means the running executable), the settings file's factory-mode flag and how
// many lines the terminal keeps before it lets the oldest go.
struct TFormStartup {
    static constexpr int DefaultTerminalLines = 100000;

    QString ExecutablePath;
    bool FactoryMode = false;
    int TerminalLines = DefaultTerminalLines;
};

class TFormMain : public QWidget {
    Q_OBJECT

public:
    // The window asks and tells the user only through `dialogs`, which must outlive it.
    explicit TFormMain(TDialogs& dialogs, const TFormStartup& startup = {},
                       QWidget* parent = nullptr);
    ~TFormMain() override;

    void EnableDisableLocatorControls(bool val);
    // Fills Data[1..16] from the controls; raises EConvertError at the first control whose
    // text is not an integer of its base.
    void SetHidDataFromUI(TReport& HidData);
    void SetHidDataFromDefault(TReport& HidData);
    void InitHidData(std::uint8_t (&Data)[64]);

    bool FactoryMode() const { return FFactoryMode; }
    const QString& WorkingDir() const { return FWorkingDir; }
    QString StatusText(int panel) const;

    // Key filters: Key becomes character 0 when the key is to be discarded.
    void edtLocationIDKeyPress(QObject* Sender, QChar& Key);
    void HexKeyPress(QObject* Sender, QChar& Key);

    // Connection (all on the UI thread).
    void btnConnectClick();
    bool HidControlEnumerate(THidDevice* HidDev, int Idx);
    void ConnectItemClick(QObject* Sender);
    void ConnectTimerTimer();
    void HidControlDeviceUnplug(THidDevice* HidDev);
    void HidControlDeviceCreateError(THidDeviceController* Controller, THidPnPInfo* PnPInfo,
                                     bool& Handled, bool& RetryCreate);

    // Commands to the locator and the handlers of its answers.
    void AskForLocatorConfiguration();
    void LocatorDeviceRead(THidDevice* HidDev, BYTE ReportID, const BYTE* Data, USHORT Size);
    void SetLocatorUIValues(const std::string& Str);
    void btnSetClick();
    void LocatorDeviceReadSet(THidDevice* HidDev, BYTE ReportID, const BYTE* Data, USHORT Size);
    void CompareLocatorUIValues(const std::string& Str);
    void btnResetClick();
    void LocatorDeviceReadReset(THidDevice* HidDev, BYTE ReportID, const BYTE* Data, USHORT Size);
    void CompareLocatorDefaultValues(const std::string& Str);

    // Profiles: the configuration controls to and from a profile file. Loading fills the
    // controls only; nothing reaches the device until "Set".
    void SaveProfileClick();
    void LoadProfileClick();

    // Terminal.
    void DeviceRead(THidDevice* HidDev, BYTE ReportID, const BYTE* Data, USHORT Size);
    void btnClearClick();
    void btnSaveClick();
    void btnSendClick();
    void btnSendASCIIClick();
    // "Start Capture..." asks for a file and captures every report of the connected devices
    // into it; "Stop Capture" ends that.
    void btnCaptureClick();
    bool Capturing() const { return FCapture != nullptr; }
    // Lines the terminal let go, oldest first, to stay within its bound; "Clear" starts over.
    long long TrimmedTerminalLines() const { return FTrimmedLines; }

    // The event-loop adapter comes first: the controller posts to it from its construction on.
    std::unique_ptr<QtEventLoop> EventLoop;
    std::unique_ptr<THidDeviceController> HidControl;

    // Connection state.
    THidDevice* HIDDevice = nullptr;
    int ConnectionTimerCount = 0;
    int UnknownEnumeratedIdx = 0;
    int VID = 0;
    int PID = 0;
    QString DeviceName;
    struct HIDSettingsEntry {
        QString Text;
        std::unique_ptr<THIDSettings> Settings;
    };
    std::unique_ptr<std::vector<HIDSettingsEntry>> HIDSettingsList;

    // Controls, named as the rest of the tool and the tests know them.
    QFrame* Panel3;
    QPushButton* btnConnect;
    QPushButton* btnClose;
    QTabWidget* pcMain;
    QWidget* tsOne;
    QWidget* tsTwo;
    QStatusBar* sbMain;
    QLabel* sbMainPanels[2];

    QFrame *Panel1, *Panel2, *Panel6, *Panel8, *Panel9, *Panel13, *Panel14, *Panel10, *Panel11,
        *Panel12, *Panel15, *pnlLowBatFreeForm, *Panel16, *pnl1x, *pnl2x, *Panel17;
    QComboBox *cbxOEM1, *cbxOEM2, *cbxCustMsgCounts, *cbxCustMsgPeriod, *cbxEnableCustMsgAntenna,
        *cbxCustMsgPower, *cbxLocationStatus, *cbxLocationStatusPolling,
        *cbxLocationStatusMsgCounts, *cbxTransmitLowBatFFM, *cbxLowBatFreeMsg, *cbxFrequency;
    QLineEdit *edtLocationID, *edtExt1, *edtExt2;
    QPushButton *btnReset, *btnSet;

    QFrame* Panel5;
    QPushButton *btnClear, *btnSave, *btnCapture;
    QLabel* lblTrimmed;
    QPlainTextEdit* Memo1;
    QTabWidget* pcDataType;
    QWidget *TabSheet1, *TabSheet2;
    QFrame* Panel4;
    QPushButton* btnSend;
    QLineEdit* Edit[8]; // Edit1 to Edit8
    QToolButton* SpeedButton1;
    QPushButton* btnSendASCII;
    QLineEdit* edtAscii;
    QToolButton* SpeedButton2;

    QTimer* ConnectTimer;
    QMenu* PopupMenu1;
    // "Profile" in the connection strip, between "Connect" and "Close", with "Save Profile..."
    // and "Load Profile...".
    QToolButton* btnProfile;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void FormCloseQuery(bool& CanClose);
    void FormDestroy();
    void btnCloseClick();
    void edtLocationIDExit();
    void SpeedButton1Click();

    // Gives entries of one name distinct names, then captions the menu entries.
    void NameMenuEntries();
    // The chosen device while it is listed; once it has gone, the first free device of the
    // chosen identifiers, so a locator plugged back under another path is still found.
    bool CheckOutChosenDevice();

    TLocatorControls ReadLocatorControls() const;
    TLocatorSelection ReadLocatorSelection() const;
    void ApplyLocatorSelection(const TLocatorSelection& selection);
    // The steps every configuration handler shares: the report block, the follow-up with the
    // report text (only for a report of all 64 data bytes), the closing empty line.
    void HandleLocatorAnswer(const BYTE* Data, USHORT Size,
                             void (TFormMain::*FollowUp)(const std::string& Str));
    void AppendTerminalLines(const std::vector<std::string>& lines);
    // The device commands go to; null once the window has gone, so a late command drops.
    TCommandDevice CurrentDevice() const;
    void ReleaseDevice();
    bool RefuseWithoutReadWriteAccess();
    bool RefuseWhenBusy();
    void ReportDroppedInputReports();
    // Ends the capture; a reason the file could not be written is shown.
    void StopCapture(const std::string& failure);
    // Lets the workers of commands still in flight end, their procedures finding no window.
    void FinishCommandsInFlight();
    void createHidControl();
    void keepHexTexts();

    void centreOnScreen();
    void buildWindow();
    void buildConfigurePage();
    void buildTerminalPage();
    void buildProfileMenu();
    // The configuration controls in field order (LocatorFields.h).
    std::array<QWidget*, 15> fieldControls() const;
    void wireHandlers();
    void setTabOrder();
    QFrame* addRow(const char* panelName, const char* colour, const char* labelName,
                   const char* caption, QWidget* control, int controlTop, int labelTop);

    TDialogs& FDialogs;
    // Lives as long as the window; commands hold it weakly to find out whether it still does.
    std::shared_ptr<TFormMain*> FSelf;
    // The device node of the last attempt refused for want of read-write access; empty when the
    // last attempt failed otherwise.
    QString FDeniedDevicePath;
    std::u16string FChosenDevicePath;   // the interface path of the device last chosen
    std::uint64_t FDroppedReported = 0; // of the current device, already on standard error
    // Held while HIDDevice is this process's; FDeviceBusy: the last attempt found the device
    // used by another process.
    std::unique_ptr<platform::DeviceLock> FDeviceLock;
    bool FDeviceBusy = false;
    // What Edit1 to Edit8 hold, copied on every change: the hexadecimal send reads them on its
    // worker thread, where the edit boxes themselves must not be touched. Shared, so a worker
    // may outlive the window.
    struct THexTexts {
        std::mutex mutex;
        std::array<std::string, 8> texts;
    };
    std::shared_ptr<THexTexts> FHexTexts = std::make_shared<THexTexts>();
    QString FExecutablePath;
    bool FStartupFactoryMode;
    int FTerminalLines;
    long long FTrimmedLines = 0;
    std::shared_ptr<THidCapture> FCapture;
    bool FShown = false;
    bool FFactoryMode = false;
    QString FWorkingDir;
};
