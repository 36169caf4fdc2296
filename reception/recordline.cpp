#include "reception/recordline.h"

#include "reception/frame.h"

#include <QByteArray>
#include <QtEndian>

#include <charconv>
#include <cstring>
#include <type_traits>

namespace recordline {
namespace {

constexpr qsizetype scaleOffset = 18;
constexpr qsizetype scaleSize = 5;
constexpr qsizetype pluOffset = 24;

template <typename T> T little(QByteArrayView bytes, qsizetype offset)
{
    return qFromLittleEndian<T>(bytes.data() + offset);
}

// The lines are pure ASCII, so they are assembled as bytes in a buffer on the
// stack and turned into text once per datagram.
class LineWriter
{
public:
    // Any integer field, the one-byte ones included, is written as a number.
    template <typename Int,
              typename = std::enable_if_t<std::is_integral_v<Int> && !std::is_same_v<Int, char>>>
    LineWriter &operator<<(Int value)
    {
        end = std::to_chars(end, buffer + sizeof buffer, value).ptr;
        return *this;
    }
    LineWriter &operator<<(char c)
    {
        *end++ = c;
        return *this;
    }
    LineWriter &operator<<(const char *text)
    {
        while (*text)
            *end++ = *text++;
        return *this;
    }
    void appendTo(QByteArray &out) const { out.append(buffer, end - buffer); }

private:
    // Nine fields of at most 11 characters and their separators fit with room to spare.
    char buffer[160];
    char *end = buffer;
};

void appendLine(QByteArray &out, const Record &r)
{
    LineWriter w;
    w << r.transactionNumber << ';' << r.recordStatus << ';';
    w << r.day << '.' << r.month << (r.year < 10 ? ".200" : ".20") << r.year << ' ' << r.hour << ':'
      << r.minute << ':' << r.second << ';';
    w << r.groupNumber << ';';
    for (quint8 digitGroup : r.scaleNumber)
        w << digitGroup;
    w << ';' << r.operatorNumber << ';' << r.plu << ';' << r.price << ';' << r.weight << ';';
    w.appendTo(out);
}

} // namespace

Record decode(QByteArrayView record)
{
    Record r;
    r.transactionNumber = little<qint32>(record, 0);
    r.recordStatus = little<qint16>(record, 6);
    r.year = quint8(record[8]);
    r.month = quint8(record[9]);
    r.day = quint8(record[10]);
    r.hour = quint8(record[11]);
    r.minute = quint8(record[12]);
    r.second = quint8(record[13]);
    r.groupNumber = little<qint32>(record, 14);
    for (int i = 0; i < scaleSize; ++i)
        r.scaleNumber[i] = quint8(record[scaleOffset + i]);
    r.operatorNumber = qint8(record[23]);
    r.plu = little<qint32>(record, pluOffset);
    r.price = little<qint32>(record, 28);
    r.weight = little<qint32>(record, 32);
    return r;
}

QString render(const Record &record)
{
    QByteArray line;
    appendLine(line, record);
    return QString::fromLatin1(line);
}

QString renderAll(QByteArrayView recordData)
{
    return QString::fromLatin1(renderAllText(recordData));
}

QByteArray renderAllText(QByteArrayView recordData)
{
    QByteArray text;
    const qsizetype count = recordData.size() / frame::recordSize;
    for (qsizetype k = 0; k < count; ++k) {
        const Record r = decode(recordData.sliced(k * frame::recordSize, frame::recordSize));
        if (r.plu == 0)
            continue;
        if (!text.isEmpty())
            text.append("\r\n");
        appendLine(text, r);
    }
    return text;
}

bool isEmpty(QByteArrayView record)
{
    return little<qint32>(record, pluOffset) == 0;
}

qint32 transactionNumber(QByteArrayView record)
{
    return little<qint32>(record, 0);
}

qint64 scaleSeconds(QByteArrayView record)
{
    // Days since 1.1.1970 of a proleptic Gregorian date (Hinnant's days_from_civil).
    const qint64 month = quint8(record[9]), day = quint8(record[10]);
    const qint64 year = 2000 + quint8(record[8]) - (month <= 2 ? 1 : 0);
    const qint64 era = year / 400, yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const qint64 days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + quint8(record[11]) * 3600 + quint8(record[12]) * 60 + quint8(record[13]);
}

// The five bytes as the low bytes of a little-endian number, in one load.
quint64 scaleKey(QByteArrayView record)
{
    uchar bytes[sizeof(quint64)] = {};
    std::memcpy(bytes, record.data() + scaleOffset, scaleSize);
    return qFromLittleEndian<quint64>(bytes);
}

QString scaleText(quint64 key)
{
    LineWriter w;
    for (int i = 0; i < scaleSize; ++i)
        w << quint8(key >> (8 * i));
    QByteArray text;
    w.appendTo(text);
    return QString::fromLatin1(text);
}

QString arrivalTime(const QDateTime &time)
{
    const QDate date = time.date();
    const QTime clock = time.time();
    char text[] = "dd.MM.yyyy  hh:mm:ss";
    const auto put = [&text](int at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + i] = char('0' + value % 10);
    };
    put(0, date.day(), 2);
    put(3, date.month(), 2);
    put(6, date.year(), 4);
    put(12, clock.hour(), 2);
    put(15, clock.minute(), 2);
    put(18, clock.second(), 2);
    return QString::fromLatin1(text, sizeof text - 1);
}

} // namespace recordline
