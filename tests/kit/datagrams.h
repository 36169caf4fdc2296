#pragma once

// On-Line datagrams and data file contents written out by hand.
#include <QByteArray>
#include <QFile>

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A frame is its 13-byte head (header, bodyLength, type bytes, packetNumber,
// packetCount, recordDataLength), the records, then the CRC16 low byte first.
// The CRC bytes were worked out apart from the program.
inline QByteArray packet(const char *head, const QByteArray &records, const char *crc)
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

// The line of the example's record under another transaction number.
inline QByteArray lineOf(int n)
{
    return QByteArray::number(n) + ";0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;";
}

// One transfer in three packets carrying transactions 1, 2 and 3.
inline const QByteArray packet1of3 =
    packet("F855CE 3A00 0208 0100 0300 3200", hex("01000000") + exampleRecord.mid(4), "C043");
inline const QByteArray packet2of3 =
    packet("F855CE 3A00 0208 0200 0300 3200", hex("02000000") + exampleRecord.mid(4), "4AD8");
inline const QByteArray packet3of3 =
    packet("F855CE 3A00 0208 0300 0300 3200", hex("03000000") + exampleRecord.mid(4), "CCAE");
// Accepted, but its one record has PLU 0 and gives no text.
inline const QByteArray pluZero =
    packet("F855CE 3A00 0208 0100 0100 3200",
           exampleRecord.left(24) + hex("00000000") + exampleRecord.mid(28), "6DAD");
// One datagram with two records: the example's, then one of PLU 0.
inline const QByteArray exampleAndPluZero =
    packet("F855CE 6C00 0208 0100 0100 6400", exampleRecord + pluZero.mid(13, 50), "EB32");
// Fails the CRC check only.
inline const QByteArray wrongCrc = packet("F855CE 3A00 0208 0100 0100 3200", exampleRecord, "9CA4");
// Fails the header check.
inline const QByteArray headerSwapped =
    packet("55F8CE 3A00 0208 0100 0100 3200", exampleRecord, "9CA3");

// The English header: the example's data file, written out by hand in
// tests/data, less its one record line.
inline const QByteArray englishHeader =
    readFile(EXAMPLE_DATA_FILE).chopped(lineOf(1234).size() + 2);

// An English data file holding the lines of lineOf(n) for each n.
inline QByteArray englishFile(std::initializer_list<int> transactions)
{
    QByteArray content = englishHeader;
    for (int n : transactions)
        content += lineOf(n) + "\r\n";
    return content;
}
