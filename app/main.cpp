#include "app/gravex.h"

#include <QApplication>
#include <QSystemTrayIcon>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Closing the options window must not end the program: only a confirmed quit does.
    QApplication::setQuitOnLastWindowClosed(false);

    Gravex gravex;
    // Without a system tray the icon cannot be reached, so the window is the
    // user's only way in.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        QMetaObject::invokeMethod(&gravex, "showWindow");

    return QApplication::exec();
}
