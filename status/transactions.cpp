#include "status/transactions.h"

namespace status {

Transactions::Heard Transactions::record(const QString &scale, qint64 number, size_t record)
{
    Scale &s = scaleFor(scale);
    Heard heard;
    const qint64 step = number - s.last;
    if (s.inOrder > 0 && step == 0 && record == s.lastRecord) {
        ++s.resent;
        heard.kind = Resent;
        return heard;
    }
    if (s.inOrder > 0 && step < 0 && takeOff(s.missing, number)) {
        heard = {Late, {number, number}};
        return heard; // the scale goes on from its last number
    }
    if (s.inOrder > 0 && step == 1) {
        ++s.inOrder;
    } else if (s.inOrder >= inOrderToWatch && step >= 2 && step <= longestGap) {
        heard = {Gap, {s.last + 1, number - 1}};
        s.missing.append(heard.numbers);
        if (s.missing.size() > rangesKept)
            s.missing.removeFirst();
        s.inOrder = 1;
    } else {
        // Told only of a scale that numbered in order: one that never does
        // says nothing.
        if (s.inOrder >= inOrderToWatch)
            heard.kind = Renumbered;
        s.inOrder = 1;
    }
    s.last = number;
    s.lastRecord = record;
    return heard;
}

void Transactions::resume(const QString &scale, qint64 number, int inOrder)
{
    if (followed.contains(scale)) // heard since: that is newer
        return;
    Scale &s = scaleFor(scale);
    s.last = number;
    s.inOrder = inOrder;
    s.lastRecord = 0;
}

QList<Transactions::Range> Transactions::missing(const QString &scale) const
{
    return followed.value(scale).missing;
}

qint64 Transactions::resent(const QString &scale) const
{
    return followed.value(scale).resent;
}

Transactions::Scale &Transactions::scaleFor(const QString &scale)
{
    if (!followed.contains(scale) && followed.size() >= followedLimit) {
        auto oldest = followed.begin();
        for (auto it = followed.begin(); it != followed.end(); ++it) {
            if (it->heard < oldest->heard)
                oldest = it;
        }
        followed.erase(oldest);
    }
    Scale &s = followed[scale];
    s.heard = ++clock;
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
        }
        return true;
    }
    return false;
}

} // namespace status
