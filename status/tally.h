#pragma once

#include "status/allowlist.h"
#include "status/snapshot.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QString>

namespace status {

// Today's records of one scale, as counted in the day folder's files.
struct CountedScale
{
    qint64 records = 0;
    qint64 transfers = 0;
    qint64 lastMs = 0; // the newest of its files was written then
    // The last transaction number, after how many numbered one after the
    // other (up to five), in the order the files hold them.
    qint64 lastTransaction = 0;
    int inOrder = 0;
    qint64 lastFile = 0; // the data file's number
    Hours hours = {};    // by the hour its files were last written
};
using DayCounts = QHash<QString, CountedScale>; // by the scale field as written
// The row of the scales beyond the table's limit, all together.
inline const QString othersScale = QStringLiteral("*");

// What the receiver has seen, counted as it happens: every datagram under its
// sender (taken, or why not), the records that reached the disk under their
// scale, and the latest arrivals and warnings. The datagram in hand is the
// one last passed to received(); its records are staged while its lines wait
// for the disk and counted once they are there.
class Tally
{
public:
    static constexpr int eventLimit = 200;
    // Senders beyond this many share one row, so that a flood from made-up
    // addresses cannot grow the table without end.
    static constexpr int senderLimit = 1000;
    // Scales likewise, for a flood of made-up scale numbers (one datagram
    // may carry 1,309 of them): beyond twice this many, the scales with the
    // most records keep their rows (those met first among equals) and the
    // others go together into one. A flood met after the real scales then
    // leaves them their rows, and real scales met after a flood win theirs
    // back with their records.
    static constexpr int scaleLimit = 1000;
    // The senders a scale's row names, and the scales an event names.
    static constexpr int sendersPerScale = 4;
    static constexpr int scalesPerEvent = 5;

    // How a scale's number is written, from the key its record gives.
    using ScaleText = QString (*)(quint64 key);
    explicit Tally(ScaleText scaleText);

    // Whose datagrams are taken; decisions made before are made anew.
    void setAllowList(const AllowList &list);
    // A datagram from `sender` was read at `nowMs`. False when the sender is
    // not allowed: the datagram is counted as rejected and goes no further.
    bool received(const QHostAddress &sender, qint64 nowMs);
    void rejected(Rejection why);
    void accepted();
    // A record of the datagram in hand whose line went to the data file.
    void stage(quint64 scaleKey);
    // Consecutive records of one scale from one sender.
    struct Run
    {
        quint64 scale;
        int sender;
        qint64 records;
    };
    // Records on their way to the disk in one file, of one generation (each
    // opening of a data file is one).
    struct Arrival
    {
        QString file;
        qint64 generation;
        QList<Run> runs;
    };
    // The staged records were handed to `file`; with `lines` not -1, only the
    // first so many of them (the rest did not fit).
    Arrival take(const QString &file, qint64 generation, qsizetype lines = -1);
    void discardStaged();
    // They are on the disk at `nowMs`: counted as stored, and logged.
    void record(const Arrival &arrival, qint64 nowMs);
    void warning(const QString &text, qint64 nowMs);
    // Packets of the datagram in hand's sender and of scale `scaleKey`
    // found lost (`n` < 0: found after all).
    void packetsLost(quint64 scaleKey, qint64 n);
    // A scale silent for longer than `limitMs` while another sent within it
    // is most likely cut off; 0: never said. A time when all were silent
    // together (a shop closed) does not count.
    void setSilentLimit(qint64 limitMs, qint64 nowMs);
    struct Silent
    {
        QString scale;
        qint64 sinceMs;       // its last record
        qint64 othersRecords; // since then
    };
    // The scales that have gone silent by `nowMs`, each said once until it
    // sends again.
    QList<Silent> silentScales(qint64 nowMs);
    // When silentScales() may next have a scale to say, after `nowMs`; 0:
    // not before a record arrives.
    qint64 nextSilence(qint64 nowMs) const;

    // The sender of the datagram in hand: its row, -1 for none.
    int currentSender() const { return current; }

    // Today's scales belong to one day folder: a new one starts them afresh,
    // to be completed with what its files already hold.
    const QString &day() const { return dayFolder; }
    void startDay(const QString &folder);
    void addCounted(const DayCounts &counts);
    qint64 recordsToday() const { return today; }
    qint64 lastArrivalMs() const { return lastArrival; }

    // Everything but the socket's figures, which only the receiver knows.
    Snapshot snapshot() const;

private:
    struct Sender
    {
        QString address;
        bool allowed = true;
        bool shared = false; // the row of the senders beyond the limit
        qint64 accepted = 0;
        qint64 rejected[rejectionKinds] = {};
        qint64 lastSeenMs = 0;
        qint64 lostPackets = 0;
    };
    struct Scale
    {
        QString text;
        qint64 records = 0;
        qint64 transfers = 0;
        qint64 lastMs = 0;
        qint64 lastFile = -1; // the generation of the file its records last went to
        QList<int> senders;
        bool moreSenders = false;
        qint64 lostPackets = 0;
        Hours hours = {};
        qint64 todayAtLast = 0;   // today's records after its last
        qint64 silentSinceMs = 0; // said silent
    };
    struct Logged
    {
        qint64 ms;
        QString warning;
        QString file;
        qint64 records;
        QStringList scales; // the first few, then "+N" for the others
    };

    int senderFor(const QHostAddress &address);
    int scaleFor(quint64 key);
    int scaleFor(const QString &text);
    void keepBusiestScales();
    static void addTo(Scale &others, const Scale &scale);
    void log(Logged event);
    int hourOf(qint64 ms);
    qint64 silentFrom(const Scale &scale) const;

    ScaleText scaleText;
    AllowList allowList;
    QList<Sender> senders;
    QHash<QHostAddress, int> senderIndex;
    QHostAddress currentAddress;
    int current = -1; // the sender of the datagram in hand
    qint64 receivedCount = 0, storedCount = 0, rejectedCount = 0;

    QString dayFolder;
    QString dayPrefix; // of its files' names
    QList<Scale> scales;
    Scale others; // beyond the limit
    QHash<quint64, int> scaleByKey;
    QHash<QString, int> scaleByText;
    QList<Run> staged;
    qint64 today = 0, lastArrival = 0;
    qint64 silentLimitMs = 0;
    qint64 quietEndMs = 0; // the first arrival after all were silent
    // The local hour last looked up, and when it began and ends.
    qint64 hourStartMs = 0, hourEndMs = 0;
    int hour = 0;

    QList<Logged> events; // oldest first
};

} // namespace status
