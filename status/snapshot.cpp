#include "status/snapshot.h"

#include <QDataStream>
#include <QIODevice>

namespace status {

// Raised whenever the layout below changes: a window never reads a snapshot
// of another layout.
static constexpr quint32 layout = 1;

static QDataStream &operator<<(QDataStream &out, const ScaleRow &s)
{
    return out << s.scale << s.records << s.transfers << s.lastRecord << s.senders;
}
static QDataStream &operator>>(QDataStream &in, ScaleRow &s)
{
    return in >> s.scale >> s.records >> s.transfers >> s.lastRecord >> s.senders;
}

static QDataStream &operator<<(QDataStream &out, const SenderRow &s)
{
    out << s.address << s.accepted << s.lastSeen;
    for (qint64 n : s.rejected)
        out << n;
    return out;
}
static QDataStream &operator>>(QDataStream &in, SenderRow &s)
{
    in >> s.address >> s.accepted >> s.lastSeen;
    for (qint64 &n : s.rejected)
        in >> n;
    return in;
}

static QDataStream &operator<<(QDataStream &out, const Event &e)
{
    return out << e.time << e.warning << e.file << e.records << e.scales;
}
static QDataStream &operator>>(QDataStream &in, Event &e)
{
    return in >> e.time >> e.warning >> e.file >> e.records >> e.scales;
}

QByteArray serialize(const Snapshot &s)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    const Reception &r = s.reception;
    out << layout << r.port << r.open << r.problem << r.bufferBytes << r.received << r.stored
        << r.rejected << r.dropped;
    out << s.countingFiles << s.recordsToday << s.lastArrival << s.scales << s.senders << s.events
        << s.allowedSenders;
    return bytes;
}

bool deserialize(const QByteArray &bytes, Snapshot *s)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_4);
    quint32 version = 0;
    Snapshot read;
    Reception &r = read.reception;
    in >> version;
    if (version != layout)
        return false;
    in >> r.port >> r.open >> r.problem >> r.bufferBytes >> r.received >> r.stored >> r.rejected >>
        r.dropped;
    in >> read.countingFiles >> read.recordsToday >> read.lastArrival >> read.scales >>
        read.senders >> read.events >> read.allowedSenders;
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    *s = read;
    return true;
}

} // namespace status
