#pragma once

#include "files/datafiles.h"
#include "files/syncqueue.h"
#include "status/dayscan.h"
#include "status/snapshot.h"
#include "status/tally.h"
#include "status/transactions.h"
#include "status/transfers.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

class QHostAddress;

// Today's figures, for the status window and the tool tip: every datagram
// under its sender, the records that reached the disk under their scale,
// the latest arrivals and warnings, and what today's folder held before, read
// a few files at a time. Filing tells it what became of the records; it
// counts as stored only what the disk has.
class Counting : public QObject
{
    Q_OBJECT

public:
    explicit Counting(status::Tally::ScaleText scaleText);

    // The data folder whose today's folder is counted; followed when nothing
    // arrives (a new day, another folder).
    void setDataFolder(const QString &folder);
    // False, naming the entry that is neither an address nor a subnet, when
    // `text` does not parse; the senders allowed are then as before.
    bool setAllowedSenders(const QString &text, QString *badEntry = nullptr);

    // A scale silent for longer than this while others send is said once;
    // 0: never.
    void setSilentLimit(std::chrono::milliseconds limit);

    // A datagram read from `sender`: false when the sender is not allowed.
    bool received(const QHostAddress &sender, qint64 nowMs);
    void rejected(status::Rejection why);
    void accepted();
    // A record of the datagram in hand whose line went to its data file.
    void stage(quint64 scaleKey);

    // What filing tells (Filing's signals of the same names).
    void dayFolder(const QString &folder, bool made);
    void fileOpened(const QString &folder, qint64 number);
    void stored(const QString &file, qint64 generation, qsizetype keptLines);
    void discarded();
    void batchEnded();
    void synced(const QList<datafiles::SyncQueue::Unsynced> &unsynced);
    // Kept among the latest events.
    void warning(const QString &text);
    // A packet of the datagram in hand, whose records are of `scaleKey`,
    // went to `file`: the packets it shows lost, or found after all.
    bool packet(quint64 scaleKey, int number, int count, qint64 file,
                status::Transfers::Heard &heard);
    // A record of the datagram in hand (of PLU 0 too), numbered `number`,
    // arrived at `nowS` with the scale's time `scaleSeconds`: what its
    // number says.
    status::Transactions::Heard transaction(quint64 scaleKey, qint64 number, QByteArrayView record,
                                            qint64 nowS, qint64 scaleSeconds);

    // Everything but the socket's figures, as of now.
    status::Snapshot snapshot();
    qint64 recordsToday() const { return tally.recordsToday(); }
    qint64 lastArrivalMs() const { return tally.lastArrivalMs(); }

Q_SIGNALS:
    // The records of today or the last results changed.
    void todayChanged();
    // A scale has been silent too long while others sent.
    void scaleSilent(const status::Tally::Silent &silent);

private:
    void countToday(const QString &dateFolder);
    void countTodayStep();
    void followToday();
    void waitForTomorrow();
    void waitForSilence();
    void checkSilence();

    status::Tally::ScaleText scaleText;
    status::Tally tally;
    status::Transfers transfers;
    status::Transactions transactions;
    // This computer's time as a scale would write it: the local offset,
    // looked up once a second.
    qint64 offsetSecond = 0;
    qint64 localOffsetS = 0;
    QString allowedSenders;
    QString dataFolder;
    datafiles::TodaysFolder todaysFolder;
    // The records handed to their files since the last batch ended, and
    // those of the batches whose syncs are not heard yet, oldest first.
    QList<status::Tally::Arrival> arriving;
    QList<QList<status::Tally::Arrival>> batches;
    // Today's files already on disk, counted a few at a time.
    status::DayScan dayScan;
    QTimer dayScanTimer;
    // Fires just after midnight, for a day that begins without traffic: at
    // rest the program wakes for nothing else.
    QTimer dayTimer;
    // Fires when a scale may next have gone silent, and not while all are.
    QTimer silenceTimer;
};
