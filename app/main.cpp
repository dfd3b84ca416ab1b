// Process entry: the tool reads no arguments of its own (Qt takes its standard options, such
// as -platform, and ignores the rest); the settings file decides factory mode and the
// terminal's bound, and TARVEX_HID_PLATFORM chooses the devices the tool sees.

#include "app/Settings.h"
#include "platform/sources/DeviceSourceFromEnvironment.h"
#include "ui/MainU.h"
#include "ui/QtDialogs.h"

#include <QApplication>

#include <sys/auxv.h>

namespace {

// The path the kernel was asked to start, before symbolic links are followed: started through
// a link, the tool goes by the link's name and folder.
std::string startedPath() {
    const auto* path = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    return path ? std::string(path) : std::string();
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    auto source = platform::deviceSourceFromEnvironment();
    if (!source)
        return 2; // the reason is already on stderr
    platform::installDeviceSource(std::move(source));
    TQtDialogs dialogs;
    const std::string executable =
        StartedExecutablePath(startedPath(), QCoreApplication::applicationFilePath().toStdString());
    const std::string settings = SettingsFilePath(executable);
    TFormStartup startup{QString::fromStdString(executable), ReadFactoryMode(settings)};
    startup.TerminalLines = ReadTerminalLines(settings).value_or(startup.TerminalLines);
    TFormMain FormMain(dialogs, startup);
    dialogs.setOwner(&FormMain);
    FormMain.show();
    return application.exec();
}
