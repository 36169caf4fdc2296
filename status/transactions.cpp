#include "status/transactions.h"

#include "status/recent.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace status {

Transactions::Heard Transactions::record(quint64 scale, qint64 number, QByteArrayView record,
                                         qint64 behindS)
{
    Scale &s = scaleFor(scale);
    sample(s, behindS);
    Heard heard;
    const qint64 step = number - s.last;
    // Records are 50 bytes: a fixed size the compiler copies inline.
    constexpr size_t size = std::tuple_size_v<decltype(s.lastRecord)>;
    Q_ASSERT(size_t(record.size()) >= size);
    if (s.inOrder > 0 && step == 0 && std::memcmp(record.data(), s.lastRecord.data(), size) == 0) {
        ++s.resent;
        heard.kind = Resent;
        return heard;
    }
    // The first record after a restart goes on from today's files without
    // a gap: records of PLU 0 are in no file, so the files may end early.
    const bool resync = std::exchange(s.resync, false);
    if (s.inOrder > 0 && step < 0 && takeOff(s.missing, number)) {
        --s.missingCount;
        heard = {Late, {number, number}};
        return heard; // the scale goes on from its last number
    }
    if (s.inOrder > 0 && step == 1) {
        ++s.inOrder;
    } else if (resync && step >= 2 && step <= longestGap) {
        // Taken as in order: the files lack only what they never hold.
    } else if (s.inOrder >= inOrderToWatch && step >= 2 && step <= longestGap && !resync) {
        heard = {Gap, {s.last + 1, number - 1}};
        s.missing.append(heard.numbers);
        s.missingCount += step - 1;
        keepNewest(s.missing);
        s.inOrder = 1;
    } else {
        // Told only of a scale that numbered in order: one that never does
        // says nothing.
        if (s.inOrder >= inOrderToWatch && !resync)
            heard.kind = Renumbered;
        s.inOrder = 1;
    }
    s.last = number;
    std::memcpy(s.lastRecord.data(), record.data(), size);
    return heard;
}

void Transactions::resume(const QString &scale, qint64 number, int inOrder)
{
    resumed.insert(scale, {number, inOrder});
}

void Transactions::sample(Scale &s, qint64 behindS)
{
    s.behind[size_t(s.nextSample)] = behindS;
    s.nextSample = (s.nextSample + 1) % clockSamples;
    s.samples = std::min(s.samples + 1, clockSamples);
}

bool Transactions::clockBehind(quint64 scale, qint64 *behindS) const
{
    const Scale s = followed.value(scale);
    if (s.samples == 0)
        return false;
    std::array<qint64, clockSamples> samples = s.behind;
    const auto end = samples.begin() + s.samples;
    const auto middle = samples.begin() + s.samples / 2;
    std::nth_element(samples.begin(), middle, end);
    *behindS = *middle;
    return true;
}

QList<Transactions::Range> Transactions::missing(quint64 scale) const
{
    return followed.value(scale).missing;
}

qint64 Transactions::missingCount(quint64 scale) const
{
    return followed.value(scale).missingCount;
}

// The oldest ranges go first; what they held stays counted.
void Transactions::keepNewest(QList<Range> &missing)
{
    while (missing.size() > rangesKept)
        missing.removeFirst();
}

qint64 Transactions::resent(quint64 scale) const
{
    return followed.value(scale).resent;
}

Transactions::Scale &Transactions::scaleFor(quint64 scale)
{
    if (last && scale == lastKey) {
        last->heard = ++clock;
        return *last;
    }
    if (followed.size() >= 2 * followedLimit && !followed.contains(scale)) {
        keepRecent(followed, followedLimit);
    }
    const bool known = followed.contains(scale);
    Scale &s = followed[scale];
    s.heard = ++clock;
    if (!known && !resumed.isEmpty()) {
        if (const auto it = resumed.constFind(scaleText(scale)); it != resumed.cend()) {
            s.last = it->number;
            s.inOrder = it->inOrder;
            s.resync = true;
            resumed.erase(it);
        }
    }
    lastKey = scale;
    last = &s; // until the next insertion or removal
    return s;
}

// Takes `number` off the ranges that hold it, splitting one in two.
bool Transactions::takeOff(QList<Range> &missing, qint64 number)
{
    for (qsizetype i = 0; i < missing.size(); ++i) {
        Range &r = missing[i];
        if (number < r.first || number > r.last)
            continue;
        if (r.first == r.last) {
            missing.removeAt(i);
        } else if (number == r.first) {
            ++r.first;
        } else if (number == r.last) {
            --r.last;
        } else {
            const Range after{number + 1, r.last};
            r.last = number - 1;
            missing.insert(i + 1, after);
            keepNewest(missing);
        }
        return true;
    }
    return false;
}

} // namespace status
