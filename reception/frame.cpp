#include "reception/frame.h"

#include <array>

namespace frame {
namespace {

constexpr quint16 polynomial = 0x1021;

constexpr std::array<quint16, 256> makeTable()
{
    std::array<quint16, 256> table{};
    for (unsigned t = 0; t < 256; ++t) {
        quint16 a = 0;
        quint16 x = quint16(t << 8);
        for (int bit = 0; bit < 8; ++bit) {
            a = ((x ^ a) & 0x8000) ? quint16((a << 1) ^ polynomial) : quint16(a << 1);
            x = quint16(x << 1);
        }
        table[t] = a;
    }
    return table;
}

constexpr std::array<quint16, 256> crcTable = makeTable();

quint16 u16(QByteArrayView bytes, qsizetype offset)
{
    return quint16(quint8(bytes[offset]) | quint8(bytes[offset + 1]) << 8);
}

qint16 s16(QByteArrayView bytes, qsizetype offset)
{
    return qint16(u16(bytes, offset));
}

} // namespace

quint16 crc16(QByteArrayView bytes)
{
    quint16 reg = 0;
    for (char c : bytes)
        reg = quint16((reg << 8) ^ crcTable[reg >> 8] ^ quint8(c));
    return reg;
}

bool hasValidPrefix(QByteArrayView datagram)
{
    return datagram.size() >= minimumSize && datagram.startsWith(QByteArrayView(frameHeader, 3)) &&
           datagram[5] == messageType && datagram[6] == messageSubtype;
}

bool hasValidLength(QByteArrayView datagram)
{
    // Both fields are signed; the sum must not wrap, so a record length of
    // 32760 or more never matches.
    return qint32(s16(datagram, 3)) == qint32(s16(datagram, 11)) + 8;
}

bool hasValidCrc(QByteArrayView datagram)
{
    const qsizetype size = datagram.size();
    return u16(datagram, size - crcSize) ==
           crc16(datagram.sliced(bodyOffset, size - bodyOffset - crcSize));
}

QByteArrayView recordData(QByteArrayView datagram)
{
    return datagram.sliced(recordsOffset, datagram.size() - overhead);
}

bool endsTransfer(QByteArrayView datagram)
{
    return packetNumber(datagram) == packetCount(datagram);
}

quint16 packetNumber(QByteArrayView datagram)
{
    return u16(datagram, 7);
}

quint16 packetCount(QByteArrayView datagram)
{
    return u16(datagram, 9);
}

} // namespace frame
