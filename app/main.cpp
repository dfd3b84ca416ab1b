// Process entry: the command line is not read; the settings file decides factory mode, and
// TARVEX_HID_PLATFORM chooses the devices the tool sees.

#include "app/Settings.h"
#include "platform/sources/DeviceSourceFromEnvironment.h"
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
    const QString executable = QCoreApplication::applicationFilePath();
    const bool factoryMode = ReadFactoryMode(SettingsFilePath(executable.toStdString()));
    TFormMain FormMain(dialogs, {executable, factoryMode});
    dialogs.setOwner(&FormMain);
    FormMain.show();
    return application.exec();
}
