// Gravex: what the status window and the tool tip show, the allowed senders,
// and the data folder opened for the user.
#include "app/gravex.h"

#include "i18n/strings.h"
#include "reception/receiver.h"
#include "service/serviceclient.h"
#include "settings/options.h"
#include "status/statuswindow.h"
#include "tray/tray.h"

#include <QDate>
#include <QDesktopServices>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>

// At the end of construction: the allowed senders as stored, and the tool
// tip with today's figures.
void Gravex::startStatus()
{
    if (receiver)
        receiver->useStoredAllowedSenders(allowedSenders);
    trayIcon->resultsChanged();
}

// The receiver's figures, or the service's as it last sent them.
status::Snapshot Gravex::statusSnapshot()
{
    return receiver ? receiver->statusSnapshot() : serviceStatus;
}

QString Gravex::toolTipText()
{
    if (!receiver && !service->isConnected())
        return getAppName(true) + QLatin1Char('\n') +
               strings::phrase(language, strings::ServiceGone);
    const qint64 last = receiver ? receiver->lastArrivalMs() : service->lastArrivalMs();
    const qint64 records = receiver ? receiver->recordsToday() : service->recordsToday();
    const QString results =
        last > 0
            ? strings::phrase(language, strings::LastResults)
                  .arg(QDateTime::fromMSecsSinceEpoch(last).toString(QStringLiteral("hh:mm:ss")))
                  .arg(records)
            : strings::phrase(language, strings::NoResultsToday);
    return getAppName(true) + QLatin1Char('\n') + results;
}

// Where the figures come from, while they are the service's.
void Gravex::refreshStatus()
{
    if (receiver) {
        statusWindow->display(receiver->statusSnapshot());
        statusWindow->showSource({});
        return;
    }
    service->requestStatus();
    statusWindow->showSource(strings::phrase(
        language, service->isConnected() ? strings::ServiceReceives : strings::ServiceGone));
}

// Shows the status window, made when first asked for, or brings it to the front.
void Gravex::showStatus()
{
    if (!statusWindow) {
        statusWindow =
            new StatusWindow(language, getAppName(true) + QLatin1String(" - ") +
                                           strings::phrase(language, strings::StatusCommand));
        statusWindow->setAllowedSenders(allowedSenders);
        connect(statusWindow, &StatusWindow::refreshWanted, this, &Gravex::refreshStatus);
        connect(statusWindow, &StatusWindow::allowedSendersApplied, this,
                &Gravex::applyAllowedSenders);
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
void Gravex::applyAllowedSenders(const QString &text)
{
    if (!receiver) { // the service answers, and the window shows it then
        service->applyAllowedSenders(text);
        return;
    }
    QString bad;
    if (!receiver->setAllowedSenders(text, &bad)) {
        statusWindow->showEntryProblem(strings::phrase(language, strings::BadEntry).arg(bad));
        return;
    }
    allowedSenders = text.simplified();
    settings->setValue(QLatin1String(options::allowedSendersKey), allowedSenders);
    statusWindow->setAllowedSenders(allowedSenders);
    statusWindow->showEntryProblem({});
}
