#include "frames.h"

#include <QLatin1Char>

namespace scalesim {
namespace {

constexpr quint16 polynomial = 0x1021;
constexpr char frameHeader[] = {'\xF8', '\x55', '\xCE'};
constexpr char messageType = 0x02;
constexpr char messageSubtype = 0x08;
constexpr int bodyLengthOffset = 3;
constexpr int bodyOffset = 5;
constexpr int crcSize = 2;
constexpr int shortFrameSize = 64;

// Table entry for t: the remainder of t * x^16, computed bit by bit as the
// scales' firmware describes it.
std::array<quint16, 256> makeCrcTable()
{
    std::array<quint16, 256> table{};
    for (int t = 0; t < 256; ++t) {
        quint16 a = 0;
        quint16 x = quint16(t << 8);
        for (int bit = 0; bit < 8; ++bit) {
            a = ((x ^ a) & 0x8000) ? quint16((a << 1) ^ polynomial) : quint16(a << 1);
            x = quint16(x << 1);
        }
        table[std::size_t(t)] = a;
    }
    return table;
}

void putLe(QByteArray &out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

void setLe16(QByteArray &out, int offset, quint16 value)
{
    out[offset] = char(value & 0xFF);
    out[offset + 1] = char(value >> 8);
}

quint16 getLe16(const QByteArray &in, int offset)
{
    return quint16(quint8(in.at(offset)) | (quint8(in.at(offset + 1)) << 8));
}

// Header, consistent length fields and a right CRC around the given record data.
QByteArray assemble(quint16 packetNumber, quint16 packetCount, const QByteArray &recordData)
{
    QByteArray frame;
    frame.reserve(recordData.size() + frameOverhead);
    frame.append(frameHeader, sizeof frameHeader);
    putLe(frame, quint32(recordData.size() + bodyOverhead), 2);
    frame.append(messageType);
    frame.append(messageSubtype);
    putLe(frame, packetNumber, 2);
    putLe(frame, packetCount, 2);
    putLe(frame, quint32(recordData.size()), 2);
    frame.append(recordData);
    putLe(frame, crc16(frame.mid(bodyOffset)), crcSize);
    return frame;
}

QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

} // namespace

quint16 crc16(const QByteArray &data)
{
    static const std::array<quint16, 256> table = makeCrcTable();
    quint16 reg = 0;
    for (const char c : data) {
        const quint8 t = quint8(reg >> 8);
        reg = quint16((reg << 8) ^ table[t] ^ quint8(c));
    }
    return reg;
}

QByteArray encodeRecord(const Record &r)
{
    QByteArray out;
    out.reserve(recordSize);
    putLe(out, quint32(r.transactionNumber), 4);
    putLe(out, 0, 2); // unused
    putLe(out, quint16(r.recordStatus), 2);
    for (const quint8 b : {r.year, r.month, r.day, r.hour, r.minute, r.second})
        out.append(char(b));
    putLe(out, quint32(r.groupNumber), 4);
    for (const quint8 b : r.scaleNumber)
        out.append(char(b));
    out.append(char(r.operatorNumber));
    putLe(out, quint32(r.plu), 4);
    putLe(out, quint32(r.price), 4);
    putLe(out, quint32(r.weight), 4);
    out.append(recordSize - out.size(), '\0'); // unused tail
    return out;
}

QByteArray buildFrame(quint16 packetNumber, quint16 packetCount, const QVector<Record> &records)
{
    QByteArray recordData;
    recordData.reserve(records.size() * recordSize);
    for (const Record &r : records)
        recordData.append(encodeRecord(r));
    return assemble(packetNumber, packetCount, recordData);
}

QByteArray corruptFrame(const QByteArray &frame, Corruption kind)
{
    QByteArray out = frame;
    switch (kind) {
    case Corruption::None:
        break;
    case Corruption::BadCrc:
        out[out.size() - 2] = char(~out.at(out.size() - 2));
        out[out.size() - 1] = char(~out.at(out.size() - 1));
        break;
    case Corruption::BadHeader:
        std::swap(out[0], out[1]);
        break;
    case Corruption::TooShort: {
        const int dataBytes = shortFrameSize - frameOverhead;
        out =
            assemble(getLe16(frame, 7), getLe16(frame, 9), frame.mid(recordDataOffset, dataBytes));
        break;
    }
    case Corruption::LengthMismatch:
        // bodyLength lies outside the body, so the CRC stays right.
        setLe16(out, bodyLengthOffset, quint16(getLe16(out, bodyLengthOffset) + 1));
        break;
    }
    return out;
}

const char *corruptionName(Corruption kind)
{
    switch (kind) {
    case Corruption::None:
        return "none";
    case Corruption::BadCrc:
        return "bad CRC";
    case Corruption::BadHeader:
        return "bad header";
    case Corruption::TooShort:
        return "too short";
    case Corruption::LengthMismatch:
        return "length mismatch";
    }
    return "?";
}

QString recordLine(const Record &r)
{
    QString scale;
    for (const quint8 b : r.scaleNumber)
        scale += QString::number(b);
    const QString dateTime =
        QString::number(r.day) % QLatin1Char('.') % QString::number(r.month) %
        QStringLiteral(".20") % twoDigits(r.year) % QLatin1Char(' ') % QString::number(r.hour) %
        QLatin1Char(':') % QString::number(r.minute) % QLatin1Char(':') % QString::number(r.second);
    const QLatin1Char sep(';');
    return QString::number(r.transactionNumber) % sep % QString::number(r.recordStatus) % sep %
           dateTime % sep % QString::number(r.groupNumber) % sep % scale % sep %
           QString::number(r.operatorNumber) % sep % QString::number(r.plu) % sep %
           QString::number(r.price) % sep % QString::number(r.weight) % sep;
}

Record exampleRecord()
{
    Record r;
    r.transactionNumber = 1234;
    r.recordStatus = 0;
    r.year = 11;
    r.month = 12;
    r.day = 5;
    r.hour = 14;
    r.minute = 3;
    r.second = 9;
    r.groupNumber = 2;
    r.scaleNumber = {0, 0, 0, 1, 7};
    r.operatorNumber = 3;
    r.plu = 105;
    r.price = 4590;
    r.weight = 1250;
    return r;
}

} // namespace scalesim
