// The traffic of several simulated scales: reproducible field values from a
// seed, transfers split into numbered packets, the order in which the scales'
// datagrams go out and the share of them that is deliberately broken.
#pragma once

#include "frames.h"

#include <QDateTime>
#include <QStringList>

#include <vector>

namespace scalesim {

// SplitMix64 with multiply-shift ranges: small, and unlike the standard library's
// distributions it gives the same numbers with every compiler.
class Prng
{
public:
    explicit Prng(quint64 seed) : state(seed) {}
    quint64 next();
    quint32 below(quint32 bound);            // 0 .. bound-1
    qint32 between(qint32 low, qint32 high); // low .. high inclusive
    bool chance(double percent);

private:
    quint64 state;
};

enum class Order {
    RoundRobin,  // one datagram of each scale in turn
    Interleaved, // a seeded random scale next, each keeping its own order
    Sequential,  // all of scale 1, then all of scale 2, ...
};

struct TrafficPlan
{
    int scales = 1;
    int transfers = 1; // per scale
    int packets = 1;   // datagrams per transfer
    int records = 1;   // records per datagram
    quint64 seed = 1;
    double corruptPercent = 0;
    double emptyPluPercent = 0;
    // What goes wrong on the way: datagrams never sent, as if lost on the
    // network, and transactions the scale numbers but never sends.
    double losePercent = 0;
    double skipPercent = 0;
    QDateTime stamp; // date and time written into every record
    Order order = Order::RoundRobin;
};

struct Datagram
{
    int scale = 0;
    QByteArray bytes;
    Corruption corruption = Corruption::None;
    bool endsTransfer = false;
    bool lost = false; // not sent: the receiver never sees it
    QStringList lines; // what the receiver should write; empty when corrupt
};

class Traffic
{
public:
    explicit Traffic(const TrafficPlan &plan);

    qint64 total() const { return totalDatagrams; }
    bool next(Datagram &out); // false once every scale has sent everything

private:
    struct Scale
    {
        Prng rng;
        quint32 nextTransaction = 0;
        std::array<quint8, 5> number{};
        qint8 operatorNumber = 1;
        qint64 sent = 0;
    };

    int pickScale();
    Record makeRecord(Scale &scale);

    TrafficPlan plan;
    Prng orderRng;
    std::vector<Scale> scales;
    std::vector<int> active; // scales with datagrams left
    qint64 perScale = 0;
    qint64 totalDatagrams = 0;
    int cursor = 0;
};

} // namespace scalesim
