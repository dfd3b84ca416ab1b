// Process entry: the command line is not read; the window reads the settings file itself.

#include "ui/MainU.h"
#include "ui/QtDialogs.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    TQtDialogs dialogs;
    TFormMain FormMain(dialogs);
    dialogs.setOwner(&FormMain);
    FormMain.show();
    return application.exec();
}
