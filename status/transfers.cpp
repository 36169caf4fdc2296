#include "status/transfers.h"

#include "status/recent.h"

#include <algorithm>

namespace status {

bool Transfers::packet(quint64 key, int number, int count, qint64 file, Heard &heard)
{
    bool told = false;
    if (!last || key != lastKey) {
        if (followed.size() >= 2 * followedLimit && !followed.contains(key)) {
            last = nullptr;
            keepRecent(followed, followedLimit);
        }
        last = &followed[key]; // until the next insertion or removal
        lastKey = key;
    }
    Followed &f = *last;
    f.heard = ++clock;
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
            --it->lost;
            heard.arrived.append({it->file, count, 1, {number}});
            if (it->lost == 0)
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
    f.seenCount = 0;
    if (count >= 64)
        f.seenBeyond.assign(size_t(count) + 1, false);
}

void Transfers::see(Followed &f, int number)
{
    if (seen(f, number))
        return;
    ++f.seenCount;
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
// once the scale's first number is known. A whole transfer, from 0 (of two
// packets or more) or from 1, teaches it. Finding the first few lost costs no more than the packets
// that came.
bool Transfers::end(Followed &f, Heard &heard)
{
    f.open = false;
    // Learnt anew from every whole transfer, so that one stray packet 0
    // cannot teach it for good.
    if (f.count >= 1 && f.seenCount == f.count + 1)
        f.base = 0;
    else if (f.seenCount == f.count && !seen(f, 0))
        f.base = 1;
    if (f.base < 0)
        return false;
    const int cameInRange = f.seenCount - (f.base == 1 && seen(f, 0) ? 1 : 0);
    Loss loss{f.file, f.count, f.count - f.base + 1 - cameInRange, {}};
    const int listed = std::min(listedLimit, loss.lost);
    for (int n = f.base; n <= f.count && loss.packets.size() < listed; ++n) {
        if (!seen(f, n))
            loss.packets.append(n);
    }
    f.seenBeyond = {};
    if (loss.lost <= 0)
        return false;
    heard.lost.append(loss);
    f.shortOnes.append(loss);
    if (f.shortOnes.size() > shortLimit)
        f.shortOnes.removeFirst();
    return true;
}

QString range(qint64 first, qint64 last)
{
    return last > first ? QString::number(first) + QChar(0x2013) + QString::number(last)
                        : QString::number(first);
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
        parts << range(sorted[i], sorted[j]);
        i = j + 1;
    }
    return parts.join(QLatin1String(", "));
}

} // namespace status
