// The locator's commands from the window: reading its configuration into the controls,
// writing and verifying it, and restoring the factory defaults.

#include "ui/MainU.h"

#include "locator/LocatorCommands.h"
#include "platform/uithread/EventLoop.h"

#include <QComboBox>
#include <QLineEdit>

namespace {

// An index the list does not have leaves it with nothing selected.
void selectIndex(QComboBox* list, int index) {
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

} // namespace

TCommandDevice TFormMain::CurrentDevice() const {
    return [alive = std::weak_ptr<TFormMain*>(FSelf)]() -> THidDevice* {
        const auto window = alive.lock();
        return window ? (*window)->HIDDevice : nullptr;
    };
}

void TFormMain::FinishCommandsInFlight() {
    constexpr int kSlicesToWait = 200; // 2 s: a worker only ever waits for this thread
    for (int slice = 0; CommandsInFlight() > 0 && slice < kSlicesToWait; ++slice) {
        CheckSynchronize();
        platform::WaitForPostedWork(10);
    }
}

void TFormMain::AskForLocatorConfiguration() {
    StartDeviceCommand(CurrentDevice(), ReadConfigurationCommand(
                                            THidDataEvent(this, &TFormMain::LocatorDeviceRead)));
}

void TFormMain::btnSetClick() {
    StartDeviceCommand(CurrentDevice(), WriteConfigurationCommand(
                                            [this](TReport& HidData) { SetHidDataFromUI(HidData); },
                                            THidDataEvent(this, &TFormMain::LocatorDeviceReadSet)));
}

void TFormMain::btnResetClick() {
    if (FDialogs.AskYesNo("Are you sure you want to Reset the Device to the Factory Defaults?") !=
        TDialogs::Answer::Yes)
        return;
    StartDeviceCommand(CurrentDevice(), FactoryResetCommand(THidDataEvent(
                                            this, &TFormMain::LocatorDeviceReadReset)));
}

// A report shorter than the protocol's 64 data bytes is shown with its missing bytes as "--"
// and otherwise ignored.
void TFormMain::HandleLocatorAnswer(const BYTE* Data, USHORT Size,
                                    void (TFormMain::*FollowUp)(const std::string& Str)) {
    AppendTerminalLines(ReportBlockLines(Data, Size));
    if (const auto Str = LocatorAnswerText(Data, Size))
        (this->*FollowUp)(*Str);
    AppendTerminalLines({""});
}

void TFormMain::LocatorDeviceRead(THidDevice*, BYTE, const BYTE* Data, USHORT Size) {
    HandleLocatorAnswer(Data, Size, &TFormMain::SetLocatorUIValues);
}

void TFormMain::LocatorDeviceReadSet(THidDevice*, BYTE, const BYTE* Data, USHORT Size) {
    HandleLocatorAnswer(Data, Size, &TFormMain::CompareLocatorUIValues);
}

void TFormMain::LocatorDeviceReadReset(THidDevice*, BYTE, const BYTE* Data, USHORT Size) {
    HandleLocatorAnswer(Data, Size, &TFormMain::CompareLocatorDefaultValues);
}

void TFormMain::SetLocatorUIValues(const std::string& Str) {
    ApplyLocatorSelection(SelectionFromReportText(Str));
}

void TFormMain::CompareLocatorUIValues(const std::string& Str) {
    const std::vector<std::string> failed = ::CompareLocatorUIValues(Str, ReadLocatorSelection());
    if (!failed.empty())
        AppendTerminalLines(failed);
    FDialogs.ShowMessage(failed.empty() ? "Configuration has been set."
                                        : "Configuration might not have been set correctly!");
}

void TFormMain::CompareLocatorDefaultValues(const std::string& Str) {
    if (MatchesFactoryDefaults(Str)) {
        SetLocatorUIValues(Str);
        FDialogs.ShowMessage("Factory reset complete.");
    } else {
        FDialogs.ShowMessage("Factory reset might not have been set correctly.");
    }
}

TLocatorSelection TFormMain::ReadLocatorSelection() const {
    TLocatorSelection s;
    s.OEM1 = cbxOEM1->currentIndex();
    s.OEM2 = cbxOEM2->currentIndex();
    s.LocationID = edtLocationID->text().toStdString();
    s.CustMsgCounts = cbxCustMsgCounts->currentIndex();
    s.CustMsgPeriod = cbxCustMsgPeriod->currentIndex();
    s.LocationStatus = cbxLocationStatus->currentIndex();
    s.LocationStatusPolling = cbxLocationStatusPolling->currentIndex();
    s.LocationStatusMsgCounts = cbxLocationStatusMsgCounts->currentIndex();
    s.EnableCustMsgAntenna = cbxEnableCustMsgAntenna->currentIndex();
    s.CustMsgPower = cbxCustMsgPower->currentIndex();
    s.TransmitLowBatFFM = cbxTransmitLowBatFFM->currentIndex();
    s.Frequency = cbxFrequency->currentIndex();
    s.LowBatFreeMsg = cbxLowBatFreeMsg->currentIndex();
    s.Ext1 = edtExt1->text().toStdString();
    s.Ext2 = edtExt2->text().toStdString();
    return s;
}

void TFormMain::ApplyLocatorSelection(const TLocatorSelection& s) {
    selectIndex(cbxOEM1, s.OEM1);
    selectIndex(cbxOEM2, s.OEM2);
    edtLocationID->setText(QString::fromStdString(s.LocationID));
    selectIndex(cbxCustMsgCounts, s.CustMsgCounts);
    selectIndex(cbxCustMsgPeriod, s.CustMsgPeriod);
    selectIndex(cbxLocationStatus, s.LocationStatus);
    selectIndex(cbxLocationStatusPolling, s.LocationStatusPolling);
    selectIndex(cbxLocationStatusMsgCounts, s.LocationStatusMsgCounts);
    selectIndex(cbxEnableCustMsgAntenna, s.EnableCustMsgAntenna);
    selectIndex(cbxCustMsgPower, s.CustMsgPower);
    selectIndex(cbxTransmitLowBatFFM, s.TransmitLowBatFFM);
    selectIndex(cbxFrequency, s.Frequency);
    selectIndex(cbxLowBatFreeMsg, s.LowBatFreeMsg);
    edtExt1->setText(QString::fromStdString(s.Ext1));
    edtExt2->setText(QString::fromStdString(s.Ext2));
}
