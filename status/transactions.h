#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

#include <array>

namespace status {

// Follows each scale's transaction numbers. Once a scale's last five
// records came numbered one after the other, a jump forward of 2 to 1,000
// means the numbers between never arrived (likely lost: records of PLU 0
// count, since they arrive though they are not filed). A number that comes
// late is taken off the list; a jump backwards or further is the scale
// numbering anew; the same number with the same record again is a resend.
// It also keeps how far each scale's clock is from this computer's.
class Transactions
{
public:
    static constexpr int inOrderToWatch = 5;
    static constexpr qint64 longestGap = 1000;
    // Missing ranges kept per scale: beyond, the oldest are forgotten.
    static constexpr int rangesKept = 16;
    // Scales followed at once: at twice as many, those heard from longest
    // ago go.
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

    // A record numbered `number` of the scale `scale` (its key) arrived:
    // `record` is its 50 bytes, to tell a resend; its time was `behindS`
    // seconds behind the arrival's.
    Heard record(quint64 scale, qint64 number, QByteArrayView record, qint64 behindS = 0);
    // Today's files end with `number` for `scale` (as they write it), after
    // `inOrder` records numbered one after the other: a restart goes on from
    // there when the scale is next heard, unless it was heard from since.
    using ScaleText = QString (*)(quint64 key);
    explicit Transactions(ScaleText scaleText_) : scaleText(scaleText_) {}
    void resume(const QString &scale, qint64 number, int inOrder);
    void clear()
    {
        followed.clear();
        resumed.clear();
        last = nullptr;
    }

    // Today's missing numbers of `scale`, oldest first; the resends heard.
    QList<Range> missing(quint64 scale) const;
    qint64 resent(quint64 scale) const;
    // How many of today's numbers never came, also those no longer listed.
    qint64 missingCount(quint64 scale) const;

    // The scale's clock: how far behind the arrival its records' time was
    // (seconds, negative when ahead), the median of its last records; false
    // when none came yet.
    static constexpr int clockSamples = 20;
    bool clockBehind(quint64 scale, qint64 *behindS) const;
    // The scales followed.
    QList<quint64> scales() const { return followed.keys(); }

private:
    struct Scale
    {
        qint64 last = 0;
        int inOrder = 0; // the records up to the last numbered one after the other
        std::array<char, 50> lastRecord{};
        QList<Range> missing;
        qint64 resent = 0;
        qint64 missingCount = 0;
        bool resync = false; // resumed from today's files, not heard since
        quint64 heard = 0;
        std::array<qint64, clockSamples> behind{}; // oldest overwritten first
        int samples = 0;
        int nextSample = 0;
    };

    Scale &scaleFor(quint64 scale);
    static bool takeOff(QList<Range> &missing, qint64 number);
    static void keepNewest(QList<Range> &missing);
    static void sample(Scale &s, qint64 behindS);

    ScaleText scaleText;
    struct Resumed
    {
        qint64 number;
        int inOrder;
    };
    QHash<QString, Resumed> resumed; // until the scale is heard
    QHash<quint64, Scale> followed;
    // Records come in runs of one scale: the last one's, until the table changes.
    quint64 lastKey = 0;
    Scale *last = nullptr;
    quint64 clock = 0;
};

} // namespace status
