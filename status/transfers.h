#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <vector>

namespace status {

// Follows each scale's transfers, from each sender, by their packet numbers,
// and names the packets that never arrived. Transfers of different scales may
// interleave; each is followed on its own. A transfer ends with its last
// packet (number == count), or, when that never comes, with the next first
// packet from the same sender and scale. Whether a scale numbers its packets
// from 0 or from 1 is learnt first, from a whole transfer: until then
// nothing is raised. A packet that comes after its transfer ended
// short takes its loss back. It runs for every datagram: it allocates
// nothing for transfers of up to 63 packets.
class Transfers
{
public:
    // Senders and scales followed at once: at twice as many, those heard
    // from longest ago are forgotten in one go, so that a flood of made-up
    // scales stays bounded and costs little per packet.
    static constexpr int followedLimit = 1000;
    // The lost packets a loss names; beyond, they are only counted.
    static constexpr int listedLimit = 64;
    // Transfers that ended short, kept per sender and scale for a late packet.
    static constexpr int shortLimit = 4;

    struct Loss
    {
        qint64 file = 0;    // the number of the data file the transfer went to
        int count = 0;      // the transfer's packet count
        int lost = 0;       // how many never came
        QList<int> packets; // the first listedLimit of them
    };
    struct Heard
    {
        QList<Loss> lost;    // transfers now known to have ended short
        QList<Loss> arrived; // packets of those that came after all
    };

    // Packet `number` of `count` from the sender and scale `key` went to
    // data file `file`: false when it tells nothing, else what it tells is
    // added to `heard`.
    bool packet(quint64 key, int number, int count, qint64 file, Heard &heard);

private:
    struct Followed
    {
        int base = -1; // the first packet's number, once learnt
        bool open = false;
        int count = 0;
        int highest = -1;
        qint64 file = 0;
        quint64 seenMask = 0;         // packets 0..63 seen, while open
        int seenCount = 0;            // of distinct numbers
        std::vector<bool> seenBeyond; // the others, for larger counts
        QList<Loss> shortOnes;        // newest last
        quint64 heard = 0;            // when, in packets heard by this object
    };

    static void begin(Followed &f, int count, qint64 file);
    static void see(Followed &f, int number);
    static bool seen(const Followed &f, int number);
    static bool end(Followed &f, Heard &heard);

    QHash<quint64, Followed> followed;
    quint64 clock = 0;
    // A transfer's packets come one after another: the last one's, until
    // the table changes.
    quint64 lastKey = 0;
    Followed *last = nullptr;
};

// "2, 4–6": the numbers, ascending, with runs written as ranges.
QString ranges(const QList<int> &numbers);
// "4–6", or "4" for one number.
QString range(qint64 first, qint64 last);

} // namespace status
