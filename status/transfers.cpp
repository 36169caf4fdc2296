#include "status/transfers.h"

#include <algorithm>

namespace status {

bool Transfers::packet(quint64 key, int number, int count, qint64 file, Heard &heard)
{
    bool told = false;
    if (!last || key != lastKey) {
        if (followed.size() >= followedLimit && !followed.contains(key))
            forgetOldest();
        last = &followed[key]; // until the next insertion or removal
        lastKey = key;
    }
    Followed &f = *last;
    f.heard = ++clock;
    if (number == 0)
        f.base = 0;
    if (number > count) // not a packet of this transfer's numbering
        return false;

    const bool first = f.base >= 0 ? number == f.base : number <= 1;
    if (f.open && (count != f.count || (first && number <= f.highest)))
        told = end(f, heard); // its last packet never came
    if (!f.open) {
        // A packet of a transfer that ended short comes late; a first packet
        // is taken for the next transfer's.
        for (auto it = f.shortOnes.rbegin(); !first && it != f.shortOnes.rend(); ++it) {
            if (it->count != count || !it->packets.contains(number))
                continue;
            it->packets.removeOne(number);
            heard.arrived.append({it->file, count, {number}});
            if (it->packets.isEmpty())
                f.shortOnes.erase(std::next(it).base());
            return true;
        }
        begin(f, count, file);
    }
    see(f, number);
    f.highest = std::max(f.highest, number);
    if (number == count)
        told = end(f, heard) || told;
    return told;
}

void Transfers::begin(Followed &f, int count, qint64 file)
{
    f.open = true;
    f.count = count;
    f.highest = -1;
    f.file = file;
    f.seenMask = 0;
    if (count >= 64)
        f.seenBeyond.assign(size_t(count) + 1, false);
}

void Transfers::see(Followed &f, int number)
{
    if (number < 64)
        f.seenMask |= quint64(1) << number;
    else
        f.seenBeyond[size_t(number)] = true;
}

bool Transfers::seen(const Followed &f, int number)
{
    return number < 64 ? (f.seenMask >> number) & 1 : bool(f.seenBeyond[size_t(number)]);
}

// The transfer is over: the packets it should have had and did not are lost,
// once the scale's first number is known. A whole transfer from 1 teaches it.
bool Transfers::end(Followed &f, Heard &heard)
{
    f.open = false;
    Loss loss{f.file, f.count, {}};
    if (f.base < 0) {
        bool whole = true;
        for (int n = 1; n <= f.count && whole; ++n)
            whole = seen(f, n);
        if (!whole)
            return false;
        f.base = 1;
    }
    for (int n = f.base; n <= f.count; ++n) {
        if (!seen(f, n))
            loss.packets.append(n);
    }
    f.seenBeyond = {};
    if (loss.packets.isEmpty())
        return false;
    heard.lost.append(loss);
    f.shortOnes.append(loss);
    if (f.shortOnes.size() > shortLimit)
        f.shortOnes.removeFirst();
    return true;
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
