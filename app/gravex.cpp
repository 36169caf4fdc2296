// Gravex: construction, teardown, and whether the window is on screen.
#include "app/gravex.h"

#include "i18n/strings.h"
#include "reception/localreception.h"
#include "service/serviceclient.h"
#include "settings/autostart.h"
#include "status/statuswindow.h"
#include "tray/tray.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace {
// A running service answers at once; none there, the connection fails at once.
constexpr int serviceAnswerMs = 1000;
} // namespace

Gravex::Gravex(QWidget *parent) : QWidget(parent)
{
    // Every later step reads the options, and the tray icon must exist
    // before the socket can report a port it could not open.
    version = tr("1.0");
    // Where the service runs and receives, this program is its window.
    service = new ServiceClient;
    service->connectNow(serviceAnswerMs);
    loadOptions();
    setFileCounter();
    createTrayIcon();
    createUdpSocket();
    // The service answered before anything was listening for it: one that
    // waits for this program's port gets it now.
    takenOver();
    buildOptionsWindow();

    setWindowIcon(QIcon(QStringLiteral(":/Gravex")));
    setWindowTitle(getAppName(true));
    startStatus();
}

Gravex::~Gravex()
{
    // A service waiting for this program's port gets it now, not when it
    // next tries; what was read is stored before anything else goes. The
    // tray icon goes before the menu it shows, the sub-menu before the menu
    // that holds it.
    takenOver();
    delete own;
    delete service;
    delete statusWindow;
    delete gridLayout;
    delete languageLabel;
    delete folderLabel;
    delete portLabel;
    delete languageBox;
    delete folderEdit;
    delete portEdit;
    delete applyButton;
    delete closeButton;
    delete selectButton;
    delete serviceNote;
    delete showTrayMessageCheck;
    delete autoLoadCheck;
    delete debugCheck;
    delete helpMenu;
    delete showWindowAction;
    delete aboutQtAction;
    delete aboutAction;
    delete licenseAction;
    delete readmeAction;
    delete quitAction;
    delete trayIcon;
    delete trayMenu;
    delete settings;
    delete runSettings;
}

void Gravex::showWindow()
{
    setVisible(isHidden());
    showWindowAction->setChecked(isVisible());
}

void Gravex::quitApp()
{
    QMessageBox box;
    box.setWindowTitle(getAppName(false));
    box.setIcon(QMessageBox::Warning);
    box.setText(getAppName(true));
    box.setInformativeText(getLanguageString(strings::QuitQuestion));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    // exit() rather than quit(): quit() first asks every window to close, and
    // the options window refuses (it only hides), which would cancel the quit.
    if (box.exec() == QMessageBox::Yes)
        QCoreApplication::exit(0);
}

void Gravex::showOptions()
{
    if (isHidden())
        showWindow();
    raise();
    activateWindow();
}

// Closing the window only hides it: the program lives on in the tray. Without
// a tray a hidden window could never be reached again, so closing it is
// quitting, confirmed as from the tray menu.
void Gravex::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        quitApp();
        return;
    }
    if (isVisible())
        setVisible(false);
    showWindowAction->setChecked(isVisible());
}
