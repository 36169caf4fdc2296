#include "status/tally.h"

#include "reception/frame.h"
#include "reception/recordline.h"

#include <algorithm>
#include <limits>

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

void Tally::stage(QByteArrayView recordData)
{
    const qsizetype count = recordData.size() / frame::recordSize;
    for (qsizetype k = 0; k < count; ++k) {
        const QByteArrayView record = recordData.sliced(k * frame::recordSize, frame::recordSize);
        if (recordline::isEmpty(record))
            continue;
        const quint64 key = recordline::scaleKey(record);
        if (!staged.isEmpty() && staged.last().scale == key && staged.last().sender == current)
            ++staged.last().records;
        else
            staged.append({key, current, 1});
    }
}

Tally::Arrival Tally::take(const QString &file, qsizetype lines)
{
    Arrival arrival{file, std::exchange(staged, {})};
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
    if (arrival.file != lastFileName) {
        lastFileName = arrival.file;
        ++fileSerial;
    }
    Logged event{nowMs, {}, arrival.file, 0, {}, {}};
    for (const Run &run : arrival.runs) {
        if (run.records == 0)
            continue;
        event.records += run.records;
        const int index = scaleFor(run.scale);
        Scale &scale = scales[index];
        scale.records += run.records;
        scale.lastMs = nowMs;
        if (std::exchange(scale.lastFile, fileSerial) != fileSerial)
            ++scale.transfers;
        if (run.sender >= 0 && !scale.senders.contains(run.sender))
            scale.senders.append(run.sender);
        if (!event.scales.contains(index))
            event.scales.append(index);
    }
    if (event.records == 0)
        return;
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
    log({nowMs, text, {}, 0, {}, {}});
}

void Tally::startDay(const QString &folder)
{
    // The events keep their scales by name once the scales of their day go.
    for (Logged &event : events) {
        if (!event.scales.isEmpty()) {
            event.names = scaleNames(event);
            event.scales.clear();
        }
    }
    dayFolder = folder;
    scales.clear();
    scaleByKey.clear();
    scaleByText.clear();
    today = 0;
    lastArrival = 0;
}

void Tally::addCounted(const DayCounts &counts)
{
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        Scale &scale = scales[scaleFor(it.key())];
        scale.records += it->records;
        scale.transfers += it->transfers;
        scale.lastMs = qMax(scale.lastMs, it->lastMs);
        today += it->records;
        lastArrival = qMax(lastArrival, it->lastMs);
    }
}

Snapshot Tally::snapshot() const
{
    Snapshot s;
    s.reception.received = receivedCount;
    s.reception.stored = storedCount;
    s.reception.rejected = rejectedCount;
    s.recordsToday = today;
    s.lastArrival = local(lastArrival);
    for (const Scale &scale : scales) {
        ScaleRow row{scale.text, scale.records, scale.transfers, local(scale.lastMs), {}};
        for (int sender : scale.senders)
            row.senders.append(senders[sender].address);
        s.scales.append(row);
    }
    std::sort(s.scales.begin(), s.scales.end(),
              [](const ScaleRow &a, const ScaleRow &b) { return a.scale < b.scale; });
    for (const Sender &sender : senders) {
        SenderRow row{sender.address, sender.accepted, {}, local(sender.lastSeenMs)};
        std::copy(std::begin(sender.rejected), std::end(sender.rejected), row.rejected);
        s.senders.append(row);
    }
    for (auto it = events.crbegin(); it != events.crend(); ++it) {
        s.events.append({local(it->ms), it->warning, it->file, it->records, scaleNames(*it)});
    }
    return s;
}

QStringList Tally::scaleNames(const Logged &event) const
{
    QStringList names = event.names;
    for (int scale : event.scales)
        names.append(scales[scale].text);
    return names;
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
    const int index = scaleFor(recordline::scaleText(key));
    scaleByKey.insert(key, index);
    return index;
}

int Tally::scaleFor(const QString &text)
{
    if (const auto it = scaleByText.constFind(text); it != scaleByText.cend())
        return it.value();
    scales.append({text, 0, 0, 0, -1, {}});
    scaleByText.insert(text, int(scales.size()) - 1);
    return int(scales.size()) - 1;
}

void Tally::log(Logged event)
{
    events.append(std::move(event));
    if (events.size() > eventLimit)
        events.removeFirst();
}

} // namespace status
