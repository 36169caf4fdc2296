#include "app/startup.h"

#include "app/gravex.h"
#include "app/instance.h"
#include "platform/platform.h"

#include <QApplication>
#include <QSystemTrayIcon>

int runTrelvant()
{
    // Closing the options window, or the last message box, must not end the
    // program: only a confirmed quit, or the system asking, does.
    QApplication::setQuitOnLastWindowClosed(false);

    RunningInstance instance;
    if (!instance.claim()) {
        instance.askToShowOptions();
        return 0;
    }
    platform::handleTerminationRequests();

    Gravex gravex;
    QObject::connect(&instance, &RunningInstance::showOptionsRequested, &gravex,
                     &Gravex::showOptions);
    // Without a system tray the icon cannot be reached, so the window is the
    // user's only way in.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        gravex.showOptions();

    return QApplication::exec();
}
