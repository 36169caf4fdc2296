#include "status/tally.h"

#include <QDir>

#include <algorithm>
#include <limits>
#include <numeric>

namespace status {
namespace {

QDateTime local(qint64 ms)
{
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms) : QDateTime();
}

// IPv4 senders reach a dual-stack socket as ::ffff:a.b.c.d; they are shown
// as the IPv4 addresses they are.
QString shown(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : address.toString();
}

} // namespace

void Tally::addTo(Scale &others, const Scale &scale)
{
    others.records += scale.records;
    others.transfers += scale.transfers;
    others.lastMs = qMax(others.lastMs, scale.lastMs);
    others.lostPackets += scale.lostPackets;
    for (size_t h = 0; h < others.hours.size(); ++h)
        others.hours[h] += scale.hours[h];
}

Tally::Tally(ScaleText scaleText_) : scaleText(scaleText_) {}

void Tally::setAllowList(const AllowList &list)
{
    allowList = list;
    for (auto it = senderIndex.cbegin(); it != senderIndex.cend(); ++it)
        senders[it.value()].allowed = allowList.allows(it.key());
}

bool Tally::received(const QHostAddress &sender, qint64 nowMs)
{
    ++receivedCount;
    // Scales send in bursts: the sender is usually the one before.
    if (current < 0 || sender != currentAddress) {
        current = senderFor(sender);
        currentAddress = sender;
    }
    Sender &s = senders[current];
    s.lastSeenMs = nowMs;
    if (s.shared ? allowList.allows(sender) : s.allowed)
        return true;
    rejected(NotAllowed);
    return false;
}

void Tally::rejected(Rejection why)
{
    ++rejectedCount;
    if (current >= 0)
        ++senders[current].rejected[why];
}

void Tally::accepted()
{
    if (current >= 0)
        ++senders[current].accepted;
}

void Tally::packetsLost(quint64 scaleKey, qint64 n)
{
    // A late packet of the day before leaves a new day's count at 0.
    qint64 &scale = scales[scaleFor(scaleKey)].lostPackets;
    scale = qMax<qint64>(0, scale + n);
    if (current >= 0)
        senders[current].lostPackets = qMax<qint64>(0, senders[current].lostPackets + n);
}

void Tally::stage(quint64 key)
{
    if (!staged.isEmpty() && staged.last().scale == key && staged.last().sender == current)
        ++staged.last().records;
    else
        staged.append({key, current, 1});
}

Tally::Arrival Tally::take(const QString &file, qint64 generation, qsizetype lines)
{
    Arrival arrival{file, generation, std::exchange(staged, {})};
    if (lines < 0)
        return arrival;
    // The lines that fit are the first ones.
    qint64 left = lines;
    for (qsizetype i = 0; i < arrival.runs.size(); ++i) {
        arrival.runs[i].records = qMin(arrival.runs[i].records, left);
        left -= arrival.runs[i].records;
    }
    return arrival;
}

void Tally::record(const Arrival &arrival, qint64 nowMs)
{
    // A transfer that began before midnight goes on in the day before's
    // folder: its records are stored, but not today's.
    const bool ofToday = QDir::fromNativeSeparators(arrival.file).startsWith(dayPrefix);
    Logged event{nowMs, {}, arrival.file, 0, {}};
    if (!ofToday) {
        for (const Run &run : arrival.runs)
            event.records += run.records;
        if (event.records > 0) {
            storedCount += event.records;
            log(std::move(event));
        }
        return;
    }
    QSet<quint64> named;
    const int h = hourOf(nowMs);
    if (silentLimitMs > 0 && nowMs - lastArrival > silentLimitMs)
        quietEndMs = nowMs;
    for (const Run &run : arrival.runs) {
        if (run.records == 0)
            continue;
        event.records += run.records;
        Scale &scale = scales[scaleFor(run.scale)];
        scale.records += run.records;
        scale.lastMs = nowMs;
        scale.hours[size_t(h)] += run.records;
        scale.todayAtLast = today + event.records;
        scale.silentSinceMs = 0;
        if (std::exchange(scale.lastFile, arrival.generation) != arrival.generation)
            ++scale.transfers;
        if (run.sender >= 0 && !scale.senders.contains(run.sender)) {
            if (scale.senders.size() < sendersPerScale)
                scale.senders.append(run.sender);
            else
                scale.moreSenders = true;
        }
        if (!named.contains(run.scale)) {
            named.insert(run.scale);
            if (event.scales.size() < scalesPerEvent)
                event.scales.append(scale.text);
        }
    }
    if (event.records == 0)
        return;
    if (named.size() > scalesPerEvent)
        event.scales.append(QLatin1Char('+') + QString::number(named.size() - scalesPerEvent));
    storedCount += event.records;
    today += event.records;
    lastArrival = nowMs;
    log(std::move(event));
}

void Tally::discardStaged()
{
    staged.clear();
}

void Tally::warning(const QString &text, qint64 nowMs)
{
    log({nowMs, text, {}, 0, {}});
}

void Tally::startDay(const QString &folder)
{
    dayFolder = folder;
    // A file's name may come with either separator on Windows.
    dayPrefix = QDir::fromNativeSeparators(folder) + QLatin1Char('/');
    scales.clear();
    others = {};
    scaleByKey.clear();
    scaleByText.clear();
    today = 0;
    lastArrival = 0;
    quietEndMs = 0;
}

void Tally::addCounted(const DayCounts &counts)
{
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        Scale &scale = it.key() == othersScale ? others : scales[scaleFor(it.key())];
        scale.records += it->records;
        scale.transfers += it->transfers;
        scale.lastMs = qMax(scale.lastMs, it->lastMs);
        for (size_t h = 0; h < scale.hours.size(); ++h)
            scale.hours[h] += it->hours[h];
        today += it->records;
        lastArrival = qMax(lastArrival, it->lastMs);
    }
    // Who sent what after whom the files do not say: the others' records
    // are counted from here on.
    for (Scale &scale : scales)
        scale.todayAtLast = today;
}

// A silence is counted under the limit in force from now on: the time
// before it changed is taken as a break, and "never" says nothing more.
void Tally::setSilentLimit(qint64 limitMs, qint64 nowMs)
{
    limitMs = qMax<qint64>(limitMs, 0);
    if (limitMs == silentLimitMs)
        return;
    silentLimitMs = limitMs;
    quietEndMs = nowMs;
    if (silentLimitMs == 0) {
        for (Scale &scale : scales)
            scale.silentSinceMs = 0;
    }
}

// A scale's silence counts from its last record, or from the end of a time
// when all were silent, whichever is later: after a break, the scales that
// are slow to start again are not cut off.
qint64 Tally::silentFrom(const Scale &scale) const
{
    return qMax(scale.lastMs, quietEndMs) + silentLimitMs;
}

QList<Tally::Silent> Tally::silentScales(qint64 nowMs)
{
    QList<Silent> found;
    // Another scale sent within the limit: all silent together says nothing.
    if (silentLimitMs <= 0 || lastArrival <= 0 || nowMs - lastArrival >= silentLimitMs)
        return found;
    for (Scale &scale : scales) {
        if (scale.lastMs <= 0 || scale.silentSinceMs > 0 || silentFrom(scale) > nowMs)
            continue;
        scale.silentSinceMs = scale.lastMs;
        found.append({scale.text, scale.lastMs, today - scale.todayAtLast});
    }
    return found;
}

qint64 Tally::nextSilence(qint64 nowMs) const
{
    qint64 next = 0;
    if (silentLimitMs <= 0)
        return next;
    for (const Scale &scale : scales) {
        const qint64 at = silentFrom(scale);
        if (scale.lastMs > 0 && scale.silentSinceMs == 0 && at > nowMs && (next == 0 || at < next))
            next = at;
    }
    return next;
}

// The local hour is looked up once an hour, not for every arrival.
int Tally::hourOf(qint64 ms)
{
    if (ms < hourStartMs || ms >= hourEndMs) {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
        hour = t.time().hour();
        const QDateTime start(t.date(), QTime(hour, 0));
        hourStartMs = start.toMSecsSinceEpoch();
        hourEndMs = start.addSecs(3600).toMSecsSinceEpoch();
        if (hourStartMs > ms || hourEndMs <= ms) // a change of summer time: looked up each time
            hourStartMs = hourEndMs = 0;
    }
    return hour;
}

Snapshot Tally::snapshot() const
{
    Snapshot s;
    s.reception.received = receivedCount;
    s.reception.stored = storedCount;
    s.reception.rejected = rejectedCount;
    s.recordsToday = today;
    s.lastArrival = local(lastArrival);
    const auto rowOf = [this](const Scale &scale) {
        ScaleRow row;
        row.scale = scale.text;
        row.records = scale.records;
        row.transfers = scale.transfers;
        row.lastRecord = local(scale.lastMs);
        row.lostPackets = scale.lostPackets;
        row.hours = scale.hours;
        row.silentSince = local(scale.silentSinceMs);
        for (int sender : scale.senders)
            row.senders.append(senders[sender].address);
        if (scale.moreSenders)
            row.senders.append(QStringLiteral("…"));
        return row;
    };
    // The table may hold up to twice its limit between two cuts: the rows
    // shown are those a cut would keep.
    QList<int> order(scales.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [this](int a, int b) { return scales[a].records > scales[b].records; });
    Scale rest = others;
    for (qsizetype i = 0; i < order.size(); ++i) {
        const Scale &scale = scales[order[i]];
        if (i < scaleLimit) {
            s.scales.append(rowOf(scale));
        } else {
            addTo(rest, scale);
        }
    }
    std::sort(s.scales.begin(), s.scales.end(),
              [](const ScaleRow &a, const ScaleRow &b) { return a.scale < b.scale; });
    if (rest.records > 0 || rest.lostPackets > 0) {
        s.scales.append(rowOf(rest));
        s.scales.last().scale = othersScale;
    }
    for (const Sender &sender : senders) {
        SenderRow row{
            sender.address, sender.accepted, {}, local(sender.lastSeenMs), sender.lostPackets};
        std::copy(std::begin(sender.rejected), std::end(sender.rejected), row.rejected);
        s.senders.append(row);
    }
    for (auto it = events.crbegin(); it != events.crend(); ++it) {
        s.events.append({local(it->ms), it->warning, it->file, it->records, it->scales});
    }
    return s;
}

int Tally::senderFor(const QHostAddress &address)
{
    if (const auto it = senderIndex.constFind(address); it != senderIndex.cend())
        return it.value();
    if (senders.size() >= senderLimit) {
        if (!senders.last().shared)
            senders.append({QStringLiteral("*"), true, true, 0, {}, 0});
        return int(senders.size()) - 1;
    }
    senders.append({shown(address), allowList.allows(address), false, 0, {}, 0});
    senderIndex.insert(address, int(senders.size()) - 1);
    return int(senders.size()) - 1;
}

int Tally::scaleFor(quint64 key)
{
    if (const auto it = scaleByKey.constFind(key); it != scaleByKey.cend())
        return it.value();
    const int index = scaleFor(scaleText(key));
    scaleByKey.insert(key, index);
    return index;
}

int Tally::scaleFor(const QString &text)
{
    if (const auto it = scaleByText.constFind(text); it != scaleByText.cend())
        return it.value();
    if (scales.size() >= 2 * scaleLimit)
        keepBusiestScales();
    Scale scale;
    scale.text = text;
    scales.append(scale);
    scaleByText.insert(text, int(scales.size()) - 1);
    return int(scales.size()) - 1;
}

// The table is cut back to its limit, the scales with the most records
// first, and the others' records go to one row; the indexes change.
void Tally::keepBusiestScales()
{
    QList<int> order(scales.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [this](int a, int b) { return scales[a].records > scales[b].records; });
    QList<int> moved(scales.size(), -1);
    QList<Scale> kept;
    for (qsizetype i = 0; i < order.size(); ++i) {
        const Scale &scale = scales[order[i]];
        if (i < scaleLimit) {
            moved[order[i]] = int(kept.size());
            kept.append(scale);
            continue;
        }
        addTo(others, scale);
    }
    scales = std::move(kept);
    scaleByText.clear();
    for (qsizetype i = 0; i < scales.size(); ++i)
        scaleByText.insert(scales[i].text, int(i));
    for (auto it = scaleByKey.begin(); it != scaleByKey.end();) {
        if (moved[it.value()] < 0) {
            it = scaleByKey.erase(it);
        } else {
            it.value() = moved[it.value()];
            ++it;
        }
    }
}

void Tally::log(Logged event)
{
    events.append(std::move(event));
    if (events.size() > eventLimit)
        events.removeFirst();
}

} // namespace status
