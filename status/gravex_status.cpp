// Gravex: what the status window and the tool tip show, the allowed senders,
// and the data folder opened for the user.
#include "app/gravex.h"

#include "files/datafiles.h"
#include "i18n/strings.h"
#include "reception/reception.h"
#include "settings/options.h"
#include "status/statuswindow.h"
#include "tray/tray.h"

#include <QDate>
#include <QDesktopServices>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>

// At the end of construction: the tool tip with today's figures.
void Gravex::startStatus()
{
    trayIcon->resultsChanged();
}

// The figures as of now, or, where they come from the service, as it last
// sent them.
status::Snapshot Gravex::statusSnapshot()
{
    reception->requestStatus();
    return lastStatus;
}

QString Gravex::toolTipText()
{
    if (!reception->isAvailable())
        return getAppName(true) + QLatin1Char('\n') +
               strings::phrase(language, strings::ServiceGone);
    const qint64 last = reception->lastArrivalMs();
    const qint64 records = reception->recordsToday();
    const QString results =
        last > 0
            ? strings::phrase(language, strings::LastResults)
                  .arg(QDateTime::fromMSecsSinceEpoch(last).toString(QStringLiteral("hh:mm:ss")))
                  .arg(records)
            : strings::phrase(language, strings::NoResultsToday);
    return getAppName(true) + QLatin1Char('\n') + results;
}

// The figures, and where they come from when they are not this program's.
void Gravex::refreshStatus()
{
    statusWindow->showSource(reception->source(language));
    reception->requestStatus();
}

// Shows the status window, made when first asked for, or brings it to the front.
void Gravex::showStatus()
{
    if (!statusWindow) {
        statusWindow =
            new StatusWindow(language, getAppName(true) + QLatin1String(" - ") +
                                           strings::phrase(language, strings::StatusCommand));
        statusWindow->setWatching(allowedSenders, silentScaleMinutes);
        connect(statusWindow, &StatusWindow::refreshWanted, this, &Gravex::refreshStatus);
        connect(statusWindow, &StatusWindow::dayWanted, this,
                [this](const QDate &date, bool withRecords) {
                    reception->requestDay(date, withRecords);
                });
        connect(statusWindow, &StatusWindow::watchingApplied, this, &Gravex::applyWatching);
    }
    statusWindow->show();
    statusWindow->raise();
    statusWindow->activateWindow();
}

// Today's folder in the system's file manager, or the data folder while
// today has none yet.
void Gravex::openDataFolder()
{
    const QString today = datafiles::dateFolderPath(filePath, QDate::currentDate());
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(today).isDir() ? today : filePath));
}

// A list that does not parse changes nothing; the window says which entry.
void Gravex::applyWatching(const QString &allowedSenders_, int silentScaleMinutes_)
{
    reception->applyWatching(allowedSenders_, silentScaleMinutes_);
}
