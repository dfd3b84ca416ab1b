// Profiles from the window: the configuration controls saved to a profile file, and a profile
// loaded into them. A profile names fields by the controls' names and holds the texts the
// controls show, so each field goes to its control as the item of that text.

#include "ui/MainU.h"

#include "locator/LocatorFields.h"
#include "locator/LocatorProfile.h"
#include "platform/base/Convert.h"
#include "ui/AnchoredPanel.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

#include <fstream>
#include <sstream>

namespace {

constexpr std::streamsize kMaxProfileBytes = 64 * 1024;

} // namespace

void TFormMain::buildProfileMenu() {
    btnProfile = new QToolButton;
    btnProfile->setObjectName("btnProfile");
    btnProfile->setText("Profile");
    btnProfile->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(btnProfile);
    connect(menu->addAction("Save Profile..."), &QAction::triggered, this,
            &TFormMain::SaveProfileClick);
    connect(menu->addAction("Load Profile..."), &QAction::triggered, this,
            &TFormMain::LoadProfileClick);
    btnProfile->setMenu(menu);
    static_cast<AnchoredPanel*>(Panel3)->place(btnProfile, 100, 13, 80, 25);
}

std::array<QWidget*, 15> TFormMain::fieldControls() const {
    return {cbxOEM1,
            cbxOEM2,
            edtLocationID,
            cbxCustMsgCounts,
            cbxCustMsgPeriod,
            cbxLocationStatus,
            cbxLocationStatusPolling,
            cbxLocationStatusMsgCounts,
            cbxEnableCustMsgAntenna,
            cbxCustMsgPower,
            cbxTransmitLowBatFFM,
            cbxFrequency,
            cbxLowBatFreeMsg,
            edtExt1,
            edtExt2};
}

void TFormMain::SaveProfileClick() {
    TLocatorConfig config;
    try {
        TReport report;
        EncodeLocatorControls(ReadLocatorControls(), report);
        config = DecodeLocatorConfig(report.Data);
    } catch (const EConvertError&) {
        FDialogs.ShowMessage("Profile not saved: a field holds no valid value.");
        return;
    }
    for (int field = 0; field < kLocatorFieldCount; ++field)
        if (!FieldNumberFromText(field, FieldText(config, field))) {
            FDialogs.ShowMessage(std::string("Profile not saved: ") + LocatorFields()[field].Name +
                                 " must be " + FieldAllowedText(field) + ".");
            return;
        }
    const std::string path = FDialogs.AskSaveFileName(FWorkingDir.toStdString());
    if (path.empty())
        return;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << LocatorProfileText(config);
    if (!file.flush())
        FDialogs.ShowMessage("Profile not saved: " + path + " cannot be written.");
}

void TFormMain::LoadProfileClick() {
    const std::string path = FDialogs.AskOpenFileName(FWorkingDir.toStdString());
    if (path.empty())
        return;
    std::ifstream file(path, std::ios::binary);
    std::string text(kMaxProfileBytes + 1, '\0');
    file.read(text.data(), kMaxProfileBytes + 1);
    text.resize(static_cast<std::size_t>(file.gcount()));
    TLocatorProfile profile;
    try {
        if (!file.eof())
            throw EProfileError("cannot be read, or is larger than 64 KiB");
        profile = ParseLocatorProfile(text);
    } catch (const EProfileError& error) {
        FDialogs.ShowMessage("Profile not loaded: " + std::string(error.what()) + ".");
        return;
    }
    const TLocatorConfig config = profile.AppliedTo(TLocatorConfig{});
    const auto controls = fieldControls();
    for (int field = 0; field < kLocatorFieldCount; ++field) {
        if (!profile.Fields[field])
            continue;
        const QString shown = QString::fromStdString(FieldText(config, field));
        if (auto* list = qobject_cast<QComboBox*>(controls[field]))
            list->setCurrentIndex(list->findText(shown));
        else
            static_cast<QLineEdit*>(controls[field])->setText(shown);
    }
}
