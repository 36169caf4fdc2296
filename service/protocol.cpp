#include "service/protocol.h"

#include "settings/options.h"

#include <QCborMap>
#include <QCborValue>
#include <QLocalSocket>
#include <QtEndian>

namespace protocol {
namespace {

constexpr qsizetype lengthSize = 4;
constexpr int kindKey = 0;
constexpr int valuesKey = 1;

} // namespace

// A message is CBOR: a peer's bytes are read by a parser that takes nothing
// on trust (no length is believed beyond the bytes that are there).
QByteArray frame(const Message &message)
{
    QCborMap map;
    map[kindKey] = message.kind;
    map[valuesKey] = QCborMap::fromVariantMap(message.values);
    const QByteArray body = QCborValue(map).toCbor();
    QByteArray framed(lengthSize, Qt::Uninitialized);
    qToBigEndian(quint32(body.size()), framed.data());
    return framed + body;
}

bool takeMessages(QByteArray &buffer, QList<Message> *messages, quint32 largest)
{
    qsizetype at = 0;
    while (buffer.size() - at >= lengthSize) {
        const quint32 length = qFromBigEndian<quint32>(buffer.constData() + at);
        if (length > largest)
            return false;
        if (buffer.size() - at - lengthSize < qsizetype(length))
            break;
        QCborParserError error;
        const QCborValue message = QCborValue::fromCbor(
            QByteArray::fromRawData(buffer.constData() + at + lengthSize, length), &error);
        if (error.error != QCborError::NoError || !message.isMap())
            return false;
        messages->append(
            {Kind(message[kindKey].toInteger()), message[valuesKey].toMap().toVariantMap()});
        at += lengthSize + length;
    }
    buffer.remove(0, at);
    return true;
}

namespace {

// The keys, each named here alone.
const QString recordsTodayKey = QStringLiteral("recordsToday");
const QString lastArrivalKey = QStringLiteral("lastArrival");
const QString receivingKey = QStringLiteral("receiving");
const QString versionKey = QStringLiteral("version");
const QString whoMayChangeKey = QStringLiteral("whoMayChange");
const QString timeKey = QStringLiteral("time");
const QString filePathKey = QStringLiteral("filePath");
const QString udpPortKey = QStringLiteral("udpPort");
const QString debugKey = QStringLiteral("debug");
const QString languageKey = QStringLiteral("language");
const QString allowedSendersKey = QStringLiteral("allowedSenders");
const QString silentScaleMinutesKey = QStringLiteral("silentScaleMinutes");
const QString typedFolderKey = QStringLiteral("typedFolder");
const QString folderNotMadeKey = QStringLiteral("folderNotMade");
const QString badEntryKey = QStringLiteral("badEntry");
const QString textKey = QStringLiteral("text");
const QString snapshotKey = QStringLiteral("snapshot");
const QString serialKey = QStringLiteral("serial");
const QString dateKey = QStringLiteral("date");
const QString fileKey = QStringLiteral("file");
const QString offsetKey = QStringLiteral("offset");
const QString reportKey = QStringLiteral("report");
const QString doneKey = QStringLiteral("done");
const QString linesKey = QStringLiteral("lines");
const QString whoMayReadKey = QStringLiteral("whoMayRead");

} // namespace

QVariantMap Day::toMap() const
{
    return {{recordsTodayKey, recordsToday},
            {lastArrivalKey, lastArrivalMs},
            {receivingKey, receiving}};
}

Day Day::fromMap(const QVariantMap &map)
{
    return {map.value(recordsTodayKey).toLongLong(), map.value(lastArrivalKey).toLongLong(),
            map.value(receivingKey).toBool()};
}

QVariantMap Greeting::toMap() const
{
    QVariantMap map = day.toMap();
    map.insert(versionKey, version);
    map.insert(whoMayChangeKey, whoMayChange);
    return map;
}

Greeting Greeting::fromMap(const QVariantMap &map)
{
    return {map.value(versionKey).toInt(), map.value(whoMayChangeKey).toString(),
            Day::fromMap(map)};
}

QVariantMap ArrivalTime::toMap() const
{
    QVariantMap map = day.toMap();
    map.insert(timeKey, timeMs);
    return map;
}

ArrivalTime ArrivalTime::fromMap(const QVariantMap &map)
{
    return {map.value(timeKey).toLongLong(), Day::fromMap(map)};
}

QVariantMap Settings::toMap() const
{
    QVariantMap map{{filePathKey, filePath},
                    {udpPortKey, udpPort},
                    {debugKey, debug},
                    {languageKey, language},
                    {allowedSendersKey, allowedSenders},
                    {silentScaleMinutesKey, silentScaleMinutes}};
    if (!typedFolder.isNull())
        map.insert(typedFolderKey, typedFolder);
    if (folderNotMade)
        map.insert(folderNotMadeKey, *folderNotMade);
    return map;
}

Settings Settings::fromMap(const QVariantMap &map)
{
    return fromMap(map, Settings{});
}

Settings Settings::fromMap(const QVariantMap &map, const Settings &current)
{
    Settings s;
    s.filePath = map.value(filePathKey, current.filePath).toString();
    s.udpPort = quint16(map.value(udpPortKey, current.udpPort).toUInt());
    s.debug = map.value(debugKey, current.debug).toBool();
    s.language = map.value(languageKey, current.language).toInt() != 0 ? 1 : 0;
    s.allowedSenders = map.value(allowedSendersKey, current.allowedSenders).toString();
    s.silentScaleMinutes = map.value(silentScaleMinutesKey, current.silentScaleMinutes).toInt();
    s.typedFolder = map.value(typedFolderKey, s.filePath).toString();
    if (map.contains(folderNotMadeKey))
        s.folderNotMade = map.value(folderNotMadeKey).toBool();
    return s;
}

Settings Settings::of(const options::Values &values)
{
    Settings s;
    s.filePath = values.filePath;
    s.udpPort = values.udpPort;
    s.debug = values.debug;
    s.language = values.language;
    s.allowedSenders = values.allowedSenders;
    s.silentScaleMinutes = values.silentScaleMinutes;
    return s;
}

void Settings::applyTo(options::Values &values) const
{
    values.filePath = filePath;
    values.udpPort = udpPort;
    values.debug = debug;
    values.language = language;
}

QVariantMap Watching::toMap() const
{
    return {{allowedSendersKey, allowedSenders}, {silentScaleMinutesKey, silentScaleMinutes}};
}

Watching Watching::fromMap(const QVariantMap &map)
{
    return {map.value(allowedSendersKey).toString(),
            map.value(silentScaleMinutesKey, options::defaultSilentScaleMinutes).toInt()};
}

QVariantMap Refusal::toMap() const
{
    QVariantMap map;
    if (!whoMayChange.isEmpty())
        map.insert(whoMayChangeKey, whoMayChange);
    if (!badEntry.isEmpty())
        map.insert(badEntryKey, badEntry);
    return map;
}

Refusal Refusal::fromMap(const QVariantMap &map)
{
    return {map.value(whoMayChangeKey).toString(), map.value(badEntryKey).toString()};
}

QVariantMap Text::toMap() const
{
    return {{textKey, text}};
}

Text Text::fromMap(const QVariantMap &map)
{
    return {map.value(textKey).toString()};
}

QVariantMap StatusBytes::toMap() const
{
    return {{snapshotKey, snapshot}};
}

StatusBytes StatusBytes::fromMap(const QVariantMap &map)
{
    return {map.value(snapshotKey).toByteArray()};
}

QVariantMap DayAsked::toMap() const
{
    return {{serialKey, serial}, {dateKey, date}, {fileKey, file}, {offsetKey, offset}};
}

DayAsked DayAsked::fromMap(const QVariantMap &map)
{
    return {map.value(serialKey).toLongLong(), map.value(dateKey).toLongLong(),
            map.value(fileKey).toLongLong(), map.value(offsetKey).toLongLong()};
}

QVariantMap Figures::toMap() const
{
    return {{serialKey, serial}, {reportKey, report}};
}

Figures Figures::fromMap(const QVariantMap &map)
{
    return {map.value(serialKey).toLongLong(), map.value(reportKey).toByteArray()};
}

QVariantMap RecordPage::toMap() const
{
    QVariantMap map{{serialKey, serial},
                    {fileKey, file},
                    {offsetKey, offset},
                    {doneKey, done},
                    {linesKey, lines}};
    if (!whoMayRead.isEmpty())
        map.insert(whoMayReadKey, whoMayRead);
    return map;
}

RecordPage RecordPage::fromMap(const QVariantMap &map)
{
    return {map.value(serialKey).toLongLong(), map.value(fileKey).toLongLong(),
            map.value(offsetKey).toLongLong(), map.value(doneKey).toBool(),
            map.value(linesKey).toByteArray(), map.value(whoMayReadKey).toString()};
}

void send(QLocalSocket *socket, Kind kind, const QVariantMap &values)
{
    socket->write(frame({kind, values}));
}

} // namespace protocol
