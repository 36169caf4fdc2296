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
// from 0 or from 1 is learnt first (a packet 0, or a whole transfer from 1):
// until then nothing is raised. A packet that comes after its transfer ended
// short takes its loss back.
class Transfers
{
public:
    // Senders and scales followed at once: beyond it the one heard from
    // longest ago is forgotten, so a flood of made-up scales stays bounded.
    static constexpr int followedLimit = 1000;
    // Transfers that ended short, kept per sender and scale for a late packet.
    static constexpr int shortLimit = 4;

    struct Loss
    {
        QString file;   // the data file the transfer went to
        QString scale;  // as the data files write it
        QString sender; // its address
        int count = 0;  // the transfer's packet count
        QList<int> packets;
    };
    struct Heard
    {
        QList<Loss> lost;    // transfers now known to have ended short
        QList<Loss> arrived; // packets of those that came after all
    };

    // Packet `number` of `count` from `sender` with the records of `scale`
    // went to `file`.
    Heard packet(const QString &sender, const QString &scale, int number, int count,
                 const QString &file);

private:
    struct Followed
    {
        int base = -1; // the first packet's number, once learnt
        bool open = false;
        int count = 0;
        int highest = -1;
        QString file;
        std::vector<bool> seen; // by packet number, while open
        QList<Loss> shortOnes;  // newest last
        quint64 heard = 0;      // when, in packets heard by this object
    };

    void begin(Followed &f, int count, const QString &file);
    void end(Followed &f, const QString &sender, const QString &scale, Heard &heard);
    void forgetOldest();

    QHash<QString, Followed> followed; // by sender and scale
    quint64 clock = 0;
};

// "2, 4–6": the numbers, ascending, with runs written as ranges.
QString ranges(const QList<int> &numbers);

} // namespace status
