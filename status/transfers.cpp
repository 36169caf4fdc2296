#include "status/transfers.h"

#include <algorithm>

namespace status {

Transfers::Heard Transfers::packet(const QString &sender, const QString &scale, int number,
                                   int count, const QString &file)
{
    Heard heard;
    const QString key = sender + QLatin1Char('/') + scale;
    if (!followed.contains(key) && followed.size() >= followedLimit)
        forgetOldest();
    Followed &f = followed[key];
    f.heard = ++clock;
    if (number == 0)
        f.base = 0;
    if (number > count) // not a packet of this transfer's numbering
        return heard;

    const bool first = f.base >= 0 ? number == f.base : number <= 1;
    if (f.open && (count != f.count || (first && number <= f.highest)))
        end(f, sender, scale, heard); // its last packet never came
    if (!f.open) {
        // A packet of a transfer that ended short comes late; a first packet
        // is taken for the next transfer's.
        for (auto it = f.shortOnes.rbegin(); !first && it != f.shortOnes.rend(); ++it) {
            if (it->count != count || !it->packets.contains(number))
                continue;
            it->packets.removeOne(number);
            heard.arrived.append({it->file, scale, sender, count, {number}});
            if (it->packets.isEmpty())
                f.shortOnes.erase(std::next(it).base());
            return heard;
        }
        begin(f, count, file);
    }
    f.seen[size_t(number)] = true;
    f.highest = std::max(f.highest, number);
    if (number == count)
        end(f, sender, scale, heard);
    return heard;
}

void Transfers::begin(Followed &f, int count, const QString &file)
{
    f.open = true;
    f.count = count;
    f.highest = -1;
    f.file = file;
    f.seen.assign(size_t(count) + 1, false);
}

// The transfer is over: the packets it should have had and did not are lost,
// once the scale's first number is known. A whole transfer from 1 teaches it.
void Transfers::end(Followed &f, const QString &sender, const QString &scale, Heard &heard)
{
    f.open = false;
    if (f.base < 0 && std::all_of(f.seen.cbegin() + 1, f.seen.cend(), [](bool s) { return s; }))
        f.base = 1;
    Loss loss{f.file, scale, sender, f.count, {}};
    if (f.base >= 0) {
        for (int n = f.base; n <= f.count; ++n) {
            if (!f.seen[size_t(n)])
                loss.packets.append(n);
        }
    }
    f.seen = {};
    if (loss.packets.isEmpty())
        return;
    heard.lost.append(loss);
    f.shortOnes.append(loss);
    if (f.shortOnes.size() > shortLimit)
        f.shortOnes.removeFirst();
}

void Transfers::forgetOldest()
{
    auto oldest = followed.begin();
    for (auto it = followed.begin(); it != followed.end(); ++it) {
        if (it->heard < oldest->heard)
            oldest = it;
    }
    followed.erase(oldest);
}

QString ranges(const QList<int> &numbers)
{
    QList<int> sorted = numbers;
    std::sort(sorted.begin(), sorted.end());
    QStringList parts;
    for (qsizetype i = 0; i < sorted.size();) {
        qsizetype j = i;
        while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1)
            ++j;
        parts << (j == i ? QString::number(sorted[i])
                         : QString::number(sorted[i]) + QChar(0x2013) + QString::number(sorted[j]));
        i = j + 1;
    }
    return parts.join(QLatin1String(", "));
}

} // namespace status
