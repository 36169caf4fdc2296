#pragma once

#include <QHash>
#include <QList>
#include <QString>

namespace status {

// Follows each scale's transaction numbers. Once a scale's last five
// records came numbered one after the other, a jump forward of 2 to 1,000
// means the numbers between never arrived (likely lost: records of PLU 0
// count, since they arrive though they are not filed). A number that comes
// late is taken off the list; a jump backwards or further is the scale
// numbering anew; the same number with the same record again is a resend.
class Transactions
{
public:
    static constexpr int inOrderToWatch = 5;
    static constexpr qint64 longestGap = 1000;
    // Missing ranges kept per scale: beyond, the oldest are forgotten.
    static constexpr int rangesKept = 16;
    // Scales followed at once; beyond, the one heard from longest ago goes.
    static constexpr int followedLimit = 1000;

    struct Range
    {
        qint64 first, last;
    };
    enum Kind { InOrder, Gap, Late, Renumbered, Resent };
    struct Heard
    {
        Kind kind = InOrder;
        Range numbers{0, 0}; // of a gap, or the late one
    };

    // A record numbered `number` of `scale` (as the data files write it)
    // arrived: `record` is a hash of its bytes, to tell a resend.
    Heard record(const QString &scale, qint64 number, size_t record);
    // Today's files end with `number` for `scale`, after `inOrder` records
    // numbered one after the other: a restart goes on from there, unless
    // the scale was heard from since.
    void resume(const QString &scale, qint64 number, int inOrder);
    void clear() { followed.clear(); }

    // Today's missing numbers of `scale`, oldest first; the resends heard.
    QList<Range> missing(const QString &scale) const;
    qint64 resent(const QString &scale) const;

private:
    struct Scale
    {
        qint64 last = 0;
        int inOrder = 0; // the records up to the last numbered one after the other
        size_t lastRecord = 0;
        QList<Range> missing;
        qint64 resent = 0;
        quint64 heard = 0;
    };

    Scale &scaleFor(const QString &scale);
    static bool takeOff(QList<Range> &missing, qint64 number);

    QHash<QString, Scale> followed;
    quint64 clock = 0;
};

} // namespace status
