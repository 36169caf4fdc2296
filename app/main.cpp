#include "app/startup.h"
#include "service/service.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // The service has no window: it needs no display and loads nothing of
    // the desktop.
    if (argc > 1 && qstrcmp(argv[1], "--service") == 0) {
        QCoreApplication app(argc, argv);
        return runService();
    }
    QApplication app(argc, argv);
    return runTrelvant();
}
