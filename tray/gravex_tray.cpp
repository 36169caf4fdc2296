// Gravex: the tray icon, its menu, and the commands that only show information.
#include "app/gravex.h"

#include "i18n/strings.h"
#include "tray/about.h"
#include "tray/tray.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QMessageBox>
#include <QUrl>

namespace {

QString besideProgram(const char *fileName)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(fileName);
}

void openBesideProgram(const char *fileName)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(besideProgram(fileName)));
}

} // namespace

void Gravex::createTrayIcon()
{
    helpMenu = new QMenu(getLanguageString(strings::Help));
    helpMenu->setIcon(QIcon(QStringLiteral(":/Info")));

    aboutQtAction = new QAction(QIcon(QStringLiteral(":/QtLogo")), tr("About Qt"), this);
    showWindowAction = new QAction(getLanguageString(strings::Options), this);
    aboutAction =
        new QAction(QIcon(QStringLiteral(":/About")), getLanguageString(strings::About), this);
    licenseAction =
        new QAction(QIcon(QStringLiteral(":/Lic")), getLanguageString(strings::License), this);
    readmeAction =
        new QAction(QIcon(QStringLiteral(":/Help")), getLanguageString(strings::Help), this);
    quitAction =
        new QAction(QIcon(QStringLiteral(":/Exit")), getLanguageString(strings::Close), this);
    statusAction = new QAction(strings::phrase(language, strings::StatusCommand), this);
    openFolderAction = new QAction(strings::phrase(language, strings::OpenDataFolder), this);

    const std::pair<QObject *, const char *> names[] = {
        {helpMenu, "help"},     {aboutQtAction, "aboutQt"}, {showWindowAction, "options"},
        {aboutAction, "about"}, {licenseAction, "license"}, {readmeAction, "readme"},
        {quitAction, "quit"},   {statusAction, "status"},   {openFolderAction, "openDataFolder"}};
    for (const auto &[object, name] : names)
        object->setObjectName(QLatin1String(name));

    connect(showWindowAction, &QAction::triggered, this, &Gravex::showWindow);
    connect(aboutQtAction, &QAction::triggered, this, &Gravex::aboutQt);
    connect(aboutAction, &QAction::triggered, this, &Gravex::aboutGravex);
    connect(licenseAction, &QAction::triggered, this, &Gravex::licenseApp);
    connect(readmeAction, &QAction::triggered, this, &Gravex::readmeApp);
    connect(quitAction, &QAction::triggered, this, &Gravex::quitApp);
    connect(statusAction, &QAction::triggered, this, &Gravex::showStatus);
    connect(openFolderAction, &QAction::triggered, this, &Gravex::openDataFolder);

    showWindowAction->setCheckable(true);
    showWindowAction->setChecked(false);

    trayMenu = new QMenu;
    trayMenu->addAction(showWindowAction);
    trayMenu->addAction(statusAction);
    trayMenu->addAction(openFolderAction);
    trayMenu->addSeparator();
    trayMenu->addMenu(helpMenu);
    trayMenu->addAction(quitAction);

    helpMenu->addAction(aboutQtAction);
    helpMenu->addAction(aboutAction);
    helpMenu->addSeparator();
    helpMenu->addAction(licenseAction);
    helpMenu->addSeparator();
    helpMenu->addAction(readmeAction);

    trayIcon =
        new Tray(nullptr, {[this] { return toolTipText(); }, [this] { return getAppName(false); },
                           [this] { return getLanguageString(strings::NewResults); }});
    trayIcon->setToolTip(getAppName(true));
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setVisible(true);
}

void Gravex::aboutGravex()
{
    // The read-me beside the program is the project's page on this machine.
    const QString projectPage =
        QUrl::fromLocalFile(besideProgram("Readme.txt")).toString(QUrl::FullyEncoded);
    QMessageBox::about(
        this, getAppName(false),
        about::text(language, getAppName(true), version, QLatin1String(qVersion()), projectPage));
}

void Gravex::aboutQt()
{
    QMessageBox::aboutQt(this, getAppName(true));
}

void Gravex::licenseApp()
{
    openBesideProgram("License.txt");
}

void Gravex::readmeApp()
{
    openBesideProgram("Readme.txt");
}

// A problem the user must know of: a data file not written, a port not opened.
void Gravex::warn(const QString &text)
{
    trayIcon->warn(text);
}
