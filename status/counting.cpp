#include "status/counting.h"

#include <QDateTime>
#include <QDeadlineTimer>

#include <algorithm>

namespace {
// A count step reads files for this long, then reception has its turn.
constexpr int countStepMs = 2;
// After midnight by this much, so that the new day has surely begun.
constexpr qint64 pastMidnightMs = 1000;
} // namespace

Counting::Counting(status::Tally::ScaleText scaleText_)
    : scaleText(scaleText_), tally(scaleText_), transactions(scaleText_)
{
    connect(&dayScanTimer, &QTimer::timeout, this, &Counting::countTodayStep);
    // Precise: a coarse timer of hours may be off by minutes.
    dayTimer.setSingleShot(true);
    dayTimer.setTimerType(Qt::PreciseTimer);
    connect(&dayTimer, &QTimer::timeout, this, &Counting::followToday);
    silenceTimer.setSingleShot(true);
    connect(&silenceTimer, &QTimer::timeout, this, &Counting::checkSilence);
}

void Counting::setSilentLimit(std::chrono::milliseconds limit)
{
    tally.setSilentLimit(limit.count(), QDateTime::currentMSecsSinceEpoch());
    silenceTimer.stop();
    checkSilence();
}

void Counting::setDataFolder(const QString &folder)
{
    dataFolder = folder;
}

bool Counting::setAllowedSenders(const QString &text, QString *badEntry)
{
    AllowList list;
    if (!list.parse(text, badEntry))
        return false;
    allowedSenders = text.simplified();
    tally.setAllowList(list);
    return true;
}

bool Counting::received(const QHostAddress &sender, qint64 nowMs)
{
    return tally.received(sender, nowMs);
}

void Counting::rejected(status::Rejection why)
{
    tally.rejected(why);
}

void Counting::accepted()
{
    tally.accepted();
}

void Counting::stage(quint64 scaleKey)
{
    tally.stage(scaleKey);
}

// A folder made anew, or another than the one counted, is counted afresh.
void Counting::dayFolder(const QString &folder, bool made)
{
    if (made || folder != tally.day())
        countToday(folder);
}

void Counting::fileOpened(const QString &folder, qint64 number)
{
    dayScan.skip(folder, number); // counted as it is written
}

void Counting::stored(const QString &file, qint64 generation, qsizetype keptLines)
{
    arriving.append(tally.take(file, generation, keptLines));
}

void Counting::discarded()
{
    tally.discardStaged();
}

void Counting::batchEnded()
{
    batches.append(std::exchange(arriving, {}));
}

// The syncs are heard in the order the batches ended: this is the oldest.
// Counted as stored only what the disk has.
void Counting::synced(const QList<datafiles::SyncQueue::Unsynced> &unsynced)
{
    if (batches.isEmpty())
        return;
    const QList<status::Tally::Arrival> arrivals = batches.takeFirst();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const status::Tally::Arrival &arrival : arrivals) {
        if (std::none_of(unsynced.cbegin(), unsynced.cend(),
                         [&arrival](const auto &u) { return u.generation == arrival.generation; }))
            tally.record(arrival, now);
    }
    // A running timer fires no later than the deadline a record can set.
    if (!silenceTimer.isActive())
        waitForSilence();
}

bool Counting::packet(quint64 scaleKey, int number, int count, qint64 file,
                      status::Transfers::Heard &heard)
{
    // The tally's number for the sender in hand stands for its address.
    const quint64 key = scaleKey | quint64(tally.currentSender() + 1) << 40;
    if (!transfers.packet(key, number, count, file, heard))
        return false;
    for (const status::Transfers::Loss &loss : heard.lost)
        tally.packetsLost(scaleKey, loss.lost);
    for (const status::Transfers::Loss &late : heard.arrived)
        tally.packetsLost(scaleKey, -late.lost);
    return true;
}

status::Transactions::Heard Counting::transaction(quint64 scaleKey, qint64 number,
                                                  QByteArrayView record, qint64 nowS,
                                                  qint64 scaleSeconds)
{
    if (nowS != offsetSecond) {
        offsetSecond = nowS;
        localOffsetS = QDateTime::fromSecsSinceEpoch(nowS).offsetFromUtc();
    }
    return transactions.record(scaleKey, number, record, nowS + localOffsetS - scaleSeconds);
}

void Counting::warning(const QString &text)
{
    tally.warning(text, QDateTime::currentMSecsSinceEpoch());
}

// Today's scales start afresh for `dateFolder` and are completed with what
// its files already hold; the files written from now on are counted as they
// are.
void Counting::countToday(const QString &dateFolder)
{
    tally.startDay(dateFolder);
    silenceTimer.stop();
    transactions.clear();
    dayScan.start(dateFolder);
    dayScanTimer.start(0);
    waitForTomorrow();
    Q_EMIT todayChanged();
}

void Counting::countTodayStep()
{
    if (!dayScan.step(QDeadlineTimer(countStepMs)))
        return;
    dayScanTimer.stop();
    const status::DayCounts &counts = dayScan.counts();
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        transactions.resume(it.key(), it->lastTransaction, it->inOrder);
    tally.addCounted(counts);
    if (!silenceTimer.isActive())
        waitForSilence();
    Q_EMIT todayChanged();
}

// A new day, or another data folder, when nothing arrived to say so.
void Counting::followToday()
{
    todaysFolder.update(dataFolder, QDateTime::currentMSecsSinceEpoch());
    if (todaysFolder.path() != tally.day())
        countToday(todaysFolder.path());
    else
        waitForTomorrow();
}

// The timer runs on the monotonic clock: a clock set forward, or a change
// of summer time, is seen at the next arrival or the next look at the
// status, and a timer that fires early is set again.
void Counting::waitForTomorrow()
{
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 toMidnight = now.msecsTo(now.date().addDays(1).startOfDay());
    dayTimer.start(std::chrono::milliseconds(qMax<qint64>(toMidnight, 0) + pastMidnightMs));
}

void Counting::waitForSilence()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 next = tally.nextSilence(now);
    if (next > 0)
        silenceTimer.start(std::chrono::milliseconds(next - now));
}

void Counting::checkSilence()
{
    const QList<status::Tally::Silent> silent =
        tally.silentScales(QDateTime::currentMSecsSinceEpoch());
    for (const status::Tally::Silent &scale : silent)
        Q_EMIT scaleSilent(scale);
    waitForSilence();
}

status::Snapshot Counting::snapshot()
{
    followToday();
    status::Snapshot s = tally.snapshot();
    QHash<QString, quint64> keys;
    for (quint64 key : transactions.scales())
        keys.insert(scaleText(key), key);
    for (status::ScaleRow &row : s.scales) {
        const auto key = keys.constFind(row.scale);
        if (key == keys.cend())
            continue;
        QStringList ranges;
        for (const status::Transactions::Range &r : transactions.missing(*key))
            ranges << status::range(r.first, r.last);
        row.missing = ranges.join(QLatin1String(", "));
        row.resent = transactions.resent(*key);
        row.missingCount = transactions.missingCount(*key);
        row.clockKnown = transactions.clockBehind(*key, &row.clockBehindS);
    }
    s.countingFiles = dayScan.running();
    s.allowedSenders = allowedSenders;
    return s;
}
