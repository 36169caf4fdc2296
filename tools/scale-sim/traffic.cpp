#include "traffic.h"

#include <algorithm>

namespace scalesim {
namespace {

constexpr quint64 golden = 0x9E3779B97F4A7C15ULL;
constexpr quint32 serialRange = 100000; // five decimal digits
constexpr qint32 firstTransactionMax = 100000;
constexpr qint32 groupMax = 12;
constexpr qint32 operatorMax = 9;
constexpr qint32 pluMax = 9999;
constexpr qint32 priceMin = 100;
constexpr qint32 priceMax = 999999;
constexpr qint32 weightMin = 5;
constexpr qint32 weightMax = 150000;
constexpr quint32 skipMax = 3; // transactions left out in one gap

// Independent streams per scale, so a scale's datagrams do not depend on the order.
quint64 streamSeed(quint64 seed, quint64 stream)
{
    Prng mixer(seed ^ (golden * (stream + 1)));
    return mixer.next();
}

} // namespace

quint64 Prng::next()
{
    quint64 z = (state += golden);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

quint32 Prng::below(quint32 bound)
{
    return quint32(((next() >> 32) * bound) >> 32);
}

qint32 Prng::between(qint32 low, qint32 high)
{
    return low + qint32(below(quint32(high - low + 1)));
}

bool Prng::chance(double percent)
{
    // In hundredths of a percent, so 0 never and 100 always hits.
    return below(10000) < quint32(percent * 100.0 + 0.5);
}

Traffic::Traffic(const TrafficPlan &p)
    : plan(p), orderRng(streamSeed(p.seed, 0)), perScale(qint64(p.transfers) * p.packets),
      totalDatagrams(perScale * p.scales)
{
    Prng serials(streamSeed(p.seed, 1));
    const quint32 firstSerial = serials.below(serialRange);
    scales.reserve(std::size_t(p.scales));
    for (int i = 0; i < p.scales; ++i) {
        Scale s{Prng(streamSeed(p.seed, quint64(i) + 2))};
        s.nextTransaction = quint32(s.rng.between(1, firstTransactionMax));
        quint32 serial = (firstSerial + quint32(i)) % serialRange;
        for (int d = 4; d >= 0; --d, serial /= 10)
            s.number[std::size_t(d)] = quint8(serial % 10);
        scales.push_back(s);
        if (perScale > 0)
            active.push_back(i);
    }
}

int Traffic::pickScale()
{
    switch (plan.order) {
    case Order::RoundRobin: {
        const int index = cursor;
        cursor = (cursor + 1) % int(active.size());
        return active[std::size_t(index)];
    }
    case Order::Interleaved:
        return active[orderRng.below(quint32(active.size()))];
    case Order::Sequential:
        return active.front();
    }
    return active.front();
}

Record Traffic::makeRecord(Scale &s)
{
    const QDate date = plan.stamp.date();
    const QTime time = plan.stamp.time();
    Record r;
    // Drawn only when asked for, so that other runs keep their bytes.
    if (plan.skipPercent > 0 && s.rng.chance(plan.skipPercent))
        s.nextTransaction += 1 + s.rng.below(skipMax);
    r.transactionNumber = qint32(s.nextTransaction++);
    r.recordStatus = 0;
    r.year = quint8(date.year() % 100);
    r.month = quint8(date.month());
    r.day = quint8(date.day());
    r.hour = quint8(time.hour());
    r.minute = quint8(time.minute());
    r.second = quint8(time.second());
    r.groupNumber = s.rng.between(1, groupMax);
    r.scaleNumber = s.number;
    r.operatorNumber = s.operatorNumber;
    r.plu = s.rng.between(1, pluMax);
    r.price = s.rng.between(priceMin, priceMax);
    r.weight = s.rng.between(weightMin, weightMax);
    if (s.rng.chance(plan.emptyPluPercent))
        r.plu = 0;
    return r;
}

bool Traffic::next(Datagram &out)
{
    if (active.empty())
        return false;
    const int index = pickScale();
    Scale &s = scales[std::size_t(index)];

    const int packetNumber = int(s.sent % plan.packets) + 1;
    if (packetNumber == 1)
        s.operatorNumber = qint8(s.rng.between(1, operatorMax)); // one operator per transfer

    QVector<Record> records;
    records.reserve(plan.records);
    for (int i = 0; i < plan.records; ++i)
        records.append(makeRecord(s));

    out = Datagram();
    out.scale = index;
    out.endsTransfer = packetNumber == plan.packets;
    out.bytes = buildFrame(quint16(packetNumber), quint16(plan.packets), records);
    if (plan.losePercent > 0 && s.rng.chance(plan.losePercent)) {
        out.lost = true;
    } else if (s.rng.chance(plan.corruptPercent)) {
        out.corruption = Corruption(1 + int(s.rng.below(corruptionKinds)));
        out.bytes = corruptFrame(out.bytes, out.corruption);
    } else {
        for (const Record &r : records) {
            if (r.plu != 0)
                out.lines.append(recordLine(r));
        }
    }

    if (++s.sent == perScale) {
        const auto pos = std::find(active.begin(), active.end(), index);
        const int removed = int(pos - active.begin());
        active.erase(pos);
        if (removed < cursor)
            --cursor;
        if (!active.empty())
            cursor %= int(active.size());
        else
            cursor = 0;
    }
    return true;
}

} // namespace scalesim
