#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

// What the status window shows, as plain data: made by the receiving program
// once a second while the window is open, and carried whole to a window in
// another process.
namespace status {

// Why a datagram was not taken, in the order the checks are made.
enum Rejection { NotAllowed, Frame, Length, Crc, rejectionKinds };

struct Reception
{
    quint16 port = 0;
    bool open = false;
    QString problem;        // why the port is not open
    qint64 bufferBytes = 0; // the receive buffer the system granted
    qint64 received = 0;    // datagrams read since start
    qint64 stored = 0;      // records on disk since start
    qint64 rejected = 0;    // datagrams not taken
    qint64 dropped = -1;    // dropped by the system before they were read; -1: not counted
};

// Records per hour of the day, 0 to 23, by this computer's clock.
using Hours = std::array<qint64, 24>;

// A scale of today, by the scale field of its records as the data files
// write it (00017).
struct ScaleRow
{
    QString scale;
    qint64 records = 0;
    qint64 transfers = 0; // data files holding its records
    QDateTime lastRecord;
    QStringList senders;    // seen since start
    qint64 lostPackets = 0; // since start
    QString missing;        // today's transaction numbers that never came: "1235–1240, 1300"
    qint64 resent = 0;      // transactions sent again
    // How far the scale's clock is behind this computer's (seconds; negative:
    // ahead), the median of its last records, when it sent any since start.
    bool clockKnown = false;
    qint64 clockBehindS = 0;
    qint64 missingCount = 0; // today's transactions that never came, also those no longer listed
    Hours hours = {};
    // Its last record, when it has been silent too long while others sent.
    QDateTime silentSince;
};

struct SenderRow
{
    QString address;
    qint64 accepted = 0;
    qint64 rejected[rejectionKinds] = {};
    QDateTime lastSeen;
    qint64 lostPackets = 0;
};

// An arrival (records reaching a data file) or a warning.
struct Event
{
    QDateTime time;
    QString warning; // empty for an arrival
    QString file;
    qint64 records = 0;
    QStringList scales;
};

struct Snapshot
{
    Reception reception;
    bool countingFiles = false; // today's files are still being counted
    qint64 recordsToday = 0;
    QDateTime lastArrival;
    QList<ScaleRow> scales;
    QList<SenderRow> senders;
    QList<Event> events; // newest first
    QString allowedSenders;
};

// At most `limit` bytes, whatever the snapshot holds: what does not fit is
// left out.
QByteArray serialize(const Snapshot &snapshot, qsizetype limit = 1024 * 1024);
// False when `bytes` is not a whole snapshot.
bool deserialize(const QByteArray &bytes, Snapshot *snapshot);

} // namespace status
