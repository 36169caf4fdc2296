#pragma once

// On-Line datagrams spelled out byte by byte. A frame is its 13-byte head
// (header, bodyLength, type bytes, packetNumber, packetCount,
// recordDataLength), the records, then the CRC16 low byte first. The CRC
// bytes were worked out apart from the program.
#include <QByteArray>
#include <QString>

namespace frames {

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

inline QByteArray make(const char *head, const QByteArray &records, const char *crc)
{
    return hex(head) + records + hex(crc);
}

// Transaction 1234 of 5.12.2011 14:03:09 from scale 0 0 0 1 7, packet 1 of 1.
inline const QByteArray example = hex("F8 55 CE 3A 00 02 08 01 00 01 00 32 00 D2 04 00"
                                      "00 00 00 00 00 0B 0C 05 0E 03 09 02 00 00 00 00"
                                      "00 00 01 07 03 69 00 00 00 EE 11 00 00 E2 04 00"
                                      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 9C"
                                      "A3");
inline const QByteArray exampleRecord = example.mid(13, 50);
inline const QString exampleLine =
    QStringLiteral("1234;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;");

// The example's record under another transaction number (4 bytes, little-endian).
inline QByteArray withTransaction(const char *number)
{
    return hex(number) + exampleRecord.mid(4);
}

// The line of withTransaction() for transaction n.
inline QString lineOf(int n)
{
    return QString::number(n) + QStringLiteral(";0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;");
}

// One transfer in three packets carrying transactions 1, 2 and 3.
inline const QByteArray packet1of3 =
    make("F855CE 3A00 0208 0100 0300 3200", withTransaction("01000000"), "C043");
inline const QByteArray packet2of3 =
    make("F855CE 3A00 0208 0200 0300 3200", withTransaction("02000000"), "4AD8");
inline const QByteArray packet3of3 =
    make("F855CE 3A00 0208 0300 0300 3200", withTransaction("03000000"), "CCAE");

// Single-packet transfers of transactions 5 and 6.
inline const QByteArray single5 =
    make("F855CE 3A00 0208 0100 0100 3200", withTransaction("05000000"), "A72E");
inline const QByteArray single6 =
    make("F855CE 3A00 0208 0100 0100 3200", withTransaction("06000000"), "A501");

// 120 bytes of record data: transactions 1234 and 1235, then 20 spare bytes.
inline const QByteArray twoRecordsAndSpareData =
    exampleRecord + withTransaction("D3040000") + QByteArray(20, '\x11');
inline const QByteArray twoRecordsAndSpare =
    make("F855CE 8000 0208 0100 0100 7800", twoRecordsAndSpareData, "68AA");

// Packet 1 of 1 whose one record has PLU 0: accepted, but no text.
inline const QByteArray pluZero =
    make("F855CE 3A00 0208 0100 0100 3200",
         hex("D2040000 0000 0000 0B0C050E0309 02000000 0000000107 03 00000000 EE110000 E2040000"
             "0000000000000000000000000000"),
         "6DAD");

// Each fails exactly one acceptance check; the CRC is right unless named.
inline const QByteArray size64 =
    make("F855CE 3900 0208 0100 0100 3100", exampleRecord.left(49), "EDCA");
inline const QByteArray headerSwapped =
    make("55F8CE 3A00 0208 0100 0100 3200", exampleRecord, "9CA3");
inline const QByteArray subtype09 = make("F855CE 3A00 0209 0100 0100 3200", exampleRecord, "A986");
inline const QByteArray bodyLengthPlusOne =
    make("F855CE 3B00 0208 0100 0100 3200", exampleRecord, "9CA3");
inline const QByteArray wrongCrc = make("F855CE 3A00 0208 0100 0100 3200", exampleRecord, "9CA4");

} // namespace frames
