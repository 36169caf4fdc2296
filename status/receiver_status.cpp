// Receiver: today's figures for the status window and the tool tip, and the
// senders allowed.
#include "reception/receiver.h"

#include "i18n/strings.h"
#include "platform/platform.h"

#include <QDeadlineTimer>
#include <QUdpSocket>

namespace {
// A count step reads files for this long, then reception has its turn.
constexpr int countStepMs = 2;
// How often the date is looked at while nothing arrives.
constexpr int dayCheckMs = 60 * 1000;
} // namespace

bool Receiver::setAllowedSenders(const QString &text, QString *badEntry)
{
    AllowList list;
    if (!list.parse(text, badEntry))
        return false;
    allowedSenders = text.simplified();
    tally.setAllowList(list);
    return true;
}

void Receiver::useStoredAllowedSenders(const QString &text)
{
    QString bad;
    if (!setAllowedSenders(text, &bad))
        warn(strings::phrase(language, strings::StoredListInvalid).arg(bad));
}

// Today's scales start afresh for `dateFolder` and are completed with what
// its files already hold; the receiver counts its own files as it writes them.
void Receiver::countToday(const QString &dateFolder)
{
    tally.startDay(dateFolder);
    dayScan.start(dateFolder);
    dayScanTimer.start(0);
    dayTimer.start(dayCheckMs);
    Q_EMIT todayChanged();
}

void Receiver::countTodayStep()
{
    if (!dayScan.step(QDeadlineTimer(countStepMs)))
        return;
    dayScanTimer.stop();
    tally.addCounted(dayScan.counts());
    Q_EMIT todayChanged();
}

// A new day, or another data folder, when nothing arrived to say so.
void Receiver::followToday()
{
    todaysFolder.update(dataFolder, QDateTime::currentMSecsSinceEpoch());
    if (todaysFolder.path() != tally.day())
        countToday(todaysFolder.path());
}

status::Snapshot Receiver::statusSnapshot()
{
    followToday();
    status::Snapshot s = tally.snapshot();
    status::Reception &r = s.reception;
    r.port = port;
    r.open = udpSocket && udpSocket->state() == QAbstractSocket::BoundState;
    r.problem = portProblem;
    if (r.open) {
        r.bufferBytes =
            udpSocket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toLongLong();
        r.dropped = platform::droppedDatagrams(udpSocket->socketDescriptor());
    }
    s.countingFiles = dayScan.running();
    s.allowedSenders = allowedSenders;
    return s;
}
