#include "status/snapshot.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>

// CBOR, which is read without taking any length on trust: a window reads
// what another process sent.
namespace status {
namespace {

// Raised whenever the layout below changes: a window never reads a snapshot
// of another layout.
constexpr int layout = 4;

QCborValue time(const QDateTime &t)
{
    return t.isValid() ? QCborValue(t.toMSecsSinceEpoch()) : QCborValue();
}

QDateTime time(const QCborValue &v)
{
    return v.isInteger() ? QDateTime::fromMSecsSinceEpoch(v.toInteger()) : QDateTime();
}

QCborArray strings(const QStringList &list)
{
    return QCborArray::fromStringList(list);
}

QStringList strings(const QCborValue &v)
{
    QStringList list;
    for (const QCborValue &s : v.toArray())
        list.append(s.toString());
    return list;
}

QCborArray hours(const Hours &h)
{
    QCborArray out;
    for (qint64 n : h)
        out.append(n);
    return out;
}

Hours hours(const QCborValue &v)
{
    Hours h = {};
    const QCborArray a = v.toArray();
    for (qsizetype i = 0; i < qMin<qsizetype>(a.size(), qsizetype(h.size())); ++i)
        h[size_t(i)] = a[i].toInteger();
    return h;
}

template <typename T, typename Encode> QCborArray array(const QList<T> &list, Encode encode)
{
    QCborArray out;
    for (const T &item : list)
        out.append(encode(item));
    return out;
}

template <typename T, typename Decode> QList<T> list(const QCborValue &v, Decode decode)
{
    QList<T> out;
    for (const QCborValue &item : v.toArray())
        out.append(decode(item.toArray()));
    return out;
}

} // namespace

namespace {

QByteArray encode(const Snapshot &s)
{
    const Reception &r = s.reception;
    const QCborArray reception{r.port,     r.open,   r.problem,  r.bufferBytes,
                               r.received, r.stored, r.rejected, r.dropped};
    const auto scale = [](const ScaleRow &row) {
        return QCborArray{row.scale,
                          row.records,
                          row.transfers,
                          time(row.lastRecord),
                          strings(row.senders),
                          row.lostPackets,
                          row.missing,
                          row.resent,
                          row.clockKnown,
                          row.clockBehindS,
                          row.missingCount,
                          hours(row.hours),
                          time(row.silentSince)};
    };
    const auto sender = [](const SenderRow &row) {
        QCborArray rejected;
        for (qint64 n : row.rejected)
            rejected.append(n);
        return QCborArray{row.address, row.accepted, rejected, time(row.lastSeen), row.lostPackets};
    };
    const auto event = [](const Event &e) {
        return QCborArray{time(e.time), e.warning, e.file, e.records, strings(e.scales)};
    };
    return QCborValue(QCborArray{layout, reception, s.countingFiles, s.recordsToday,
                                 time(s.lastArrival), array(s.scales, scale),
                                 array(s.senders, sender), array(s.events, event),
                                 s.allowedSenders})
        .toCbor();
}

} // namespace

// The tables are bounded where they are kept; should they still not fit,
// the allowed senders' text is cut, then the tables lose their ends (the
// oldest events first).
QByteArray serialize(const Snapshot &snapshot, qsizetype limit)
{
    QByteArray bytes = encode(snapshot);
    Snapshot s = snapshot;
    for (int round = 0; bytes.size() > limit && round < 64; ++round) {
        if (s.allowedSenders.size() > 1024)
            s.allowedSenders.truncate(1024);
        else if (s.events.size() > 10)
            s.events.resize(s.events.size() / 2);
        else if (s.senders.size() > 10)
            s.senders.resize(s.senders.size() / 2);
        else if (s.scales.size() > 10)
            s.scales.resize(s.scales.size() / 2);
        else
            s = Snapshot{s.reception, s.countingFiles, s.recordsToday, s.lastArrival, {}, {}, {},
                         {}};
        bytes = encode(s);
    }
    return bytes;
}

bool deserialize(const QByteArray &bytes, Snapshot *s)
{
    QCborParserError error;
    const QCborArray all = QCborValue::fromCbor(bytes, &error).toArray();
    if (error.error != QCborError::NoError || all.size() != 9 || all[0].toInteger() != layout)
        return false;
    Snapshot read;
    const QCborArray r = all[1].toArray();
    read.reception = {quint16(r[0].toInteger()), r[1].toBool(),     r[2].toString(),
                      r[3].toInteger(),          r[4].toInteger(),  r[5].toInteger(),
                      r[6].toInteger(),          r[7].toInteger(-1)};
    read.countingFiles = all[2].toBool();
    read.recordsToday = all[3].toInteger();
    read.lastArrival = time(all[4]);
    read.scales = list<ScaleRow>(all[5], [](const QCborArray &a) {
        return ScaleRow{a[0].toString(), a[1].toInteger(), a[2].toInteger(),  time(a[3]),
                        strings(a[4]),   a[5].toInteger(), a[6].toString(),   a[7].toInteger(),
                        a[8].toBool(),   a[9].toInteger(), a[10].toInteger(), hours(a[11]),
                        time(a[12])};
    });
    read.senders = list<SenderRow>(all[6], [](const QCborArray &a) {
        SenderRow row{a[0].toString(), a[1].toInteger(), {}, time(a[3]), a[4].toInteger()};
        const QCborArray rejected = a[2].toArray();
        for (int i = 0; i < rejectionKinds; ++i)
            row.rejected[i] = rejected[i].toInteger();
        return row;
    });
    read.events = list<Event>(all[7], [](const QCborArray &a) {
        return Event{time(a[0]), a[1].toString(), a[2].toString(), a[3].toInteger(), strings(a[4])};
    });
    read.allowedSenders = all[8].toString();
    *s = read;
    return true;
}

} // namespace status
