// Gravex: what the status window and the tool tip show, the allowed senders,
// and the data folder opened for the user.
#include "app/gravex.h"

#include "app/platform.h"
#include "i18n/strings.h"
#include "settings/options.h"
#include "status/statuswindow.h"
#include "tray/tray.h"

#include <QDate>
#include <QDesktopServices>
#include <QFileInfo>
#include <QSettings>
#include <QUdpSocket>
#include <QUrl>

namespace {
// A count step reads files for this long, then reception has its turn.
constexpr int countStepMs = 2;
// How often the date is looked at while nothing arrives.
constexpr int dayCheckMs = 60 * 1000;
} // namespace

// At the end of construction: the allowed senders as stored, and today's
// files counted for the status window and the tool tip.
void Gravex::startStatus()
{
    AllowList list;
    QString bad;
    if (list.parse(allowedSenders, &bad))
        tally.setAllowList(list);
    else // a list typed into the store by hand: losing data would be worse
        warn(strings::phrase(language, strings::StoredListInvalid).arg(bad));
    connect(&dayScanTimer, &QTimer::timeout, this, &Gravex::countTodayStep);
    connect(&dayTimer, &QTimer::timeout, this, &Gravex::followToday);
    dayTimer.start(dayCheckMs);
    countToday(datafiles::dateFolderPath(filePath, QDate::currentDate()));
}

// Today's scales start afresh for `dateFolder` and are completed with what
// its files already hold; the program counts its own files as it writes them.
void Gravex::countToday(const QString &dateFolder)
{
    tally.startDay(dateFolder);
    dayScan.start(dateFolder, fileCounter);
    dayScanTimer.start(0);
    trayIcon->resultsChanged();
}

void Gravex::countTodayStep()
{
    if (!dayScan.step(QDeadlineTimer(countStepMs)))
        return;
    dayScanTimer.stop();
    tally.addCounted(dayScan.counts());
    trayIcon->resultsChanged();
}

// A new day, or another data folder, when nothing arrived to say so.
void Gravex::followToday()
{
    todaysFolder.update(filePath, QDateTime::currentMSecsSinceEpoch());
    if (todaysFolder.path() != tally.day())
        countToday(todaysFolder.path());
}

status::Snapshot Gravex::statusSnapshot()
{
    followToday();
    status::Snapshot s = tally.snapshot();
    status::Reception &r = s.reception;
    r.port = udpPort;
    r.open = udpSocket->state() == QAbstractSocket::BoundState;
    r.problem = portProblem;
    if (r.open) {
        r.bufferBytes = udpSocket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toLongLong();
        r.dropped = platform::droppedDatagrams(udpSocket->socketDescriptor());
    }
    s.countingFiles = dayScan.running();
    s.allowedSenders = allowedSenders;
    return s;
}

QString Gravex::toolTipText()
{
    const qint64 last = tally.lastArrivalMs();
    const QString results =
        last > 0 ? strings::phrase(language, strings::LastResults)
                       .arg(QDateTime::fromMSecsSinceEpoch(last).toString(QStringLiteral("hh:mm:ss")))
                       .arg(tally.recordsToday())
                 : strings::phrase(language, strings::NoResultsToday);
    return getAppName(true) + QLatin1Char('\n') + results;
}

// Shows the status window, made when first asked for, or brings it to the front.
void Gravex::showStatus()
{
    if (!statusWindow) {
        statusWindow = new StatusWindow(
            language, getAppName(true) + QLatin1String(" - ") +
                          strings::phrase(language, strings::StatusCommand));
        statusWindow->setAllowedSenders(allowedSenders);
        connect(statusWindow, &StatusWindow::refreshWanted, this,
                [this] { statusWindow->display(statusSnapshot()); });
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
    AllowList list;
    QString bad;
    if (!list.parse(text, &bad)) {
        statusWindow->showEntryProblem(strings::phrase(language, strings::BadEntry).arg(bad));
        return;
    }
    allowedSenders = text.simplified();
    settings->setValue(QLatin1String(options::allowedSendersKey), allowedSenders);
    tally.setAllowList(list);
    statusWindow->setAllowedSenders(allowedSenders);
    statusWindow->showEntryProblem({});
}
