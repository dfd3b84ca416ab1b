// Process entry: the command line is not read; the window reads the settings file itself, and
// TARVEX_HID_PLATFORM chooses the devices the tool sees.

#include "platform/DeviceSourceFromEnvironment.h"
#include "ui/MainU.h"
#include "ui/QtDialogs.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    auto source = platform::deviceSourceFromEnvironment();
    if (!source)
        return 2; // the reason is already on stderr
    platform::installDeviceSource(std::move(source));
    TQtDialogs dialogs;
    TFormMain FormMain(dialogs);
    dialogs.setOwner(&FormMain);
    FormMain.show();
    return application.exec();
}
