// On-Line datagrams as a scale sends them: the 50-byte transaction record, the
// frame around it, its CRC16, the deliberately broken variants and the text
// line the receiver is expected to write for a record.
//
// Written independently of the receiver's own code so that the simulator can
// serve as a second opinion on it.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <array>

namespace scalesim {

constexpr int recordSize = 50;
// Header 3, bodyLength 2, type 2, packet numbering 4, recordDataLength 2, CRC 2.
constexpr int frameOverhead = 15;
// Body bytes outside the record data: type 2, packet numbering 4, recordDataLength 2.
constexpr int bodyOverhead = 8;
constexpr int recordDataOffset = 13;
// The receiver reads recordDataLength as signed 16-bit, so more records never pass.
constexpr int maxRecords = (32767 - bodyOverhead) / recordSize;
// Records that still fit one Ethernet frame without IP fragmentation.
constexpr int recordsPerEthernetFrame = (1472 - frameOverhead) / recordSize;

struct Record
{
    qint32 transactionNumber = 0;
    qint16 recordStatus = 0;
    quint8 year = 0; // within the century 2000-2099
    quint8 month = 0;
    quint8 day = 0;
    quint8 hour = 0;
    quint8 minute = 0;
    quint8 second = 0;
    qint32 groupNumber = 0;
    std::array<quint8, 5> scaleNumber{};
    qint8 operatorNumber = 0;
    qint32 plu = 0; // 0 marks an empty record
    qint32 price = 0;
    qint32 weight = 0;
};

enum class Corruption {
    None,
    BadCrc,         // CRC bytes inverted
    BadHeader,      // first two header bytes swapped
    TooShort,       // 64 bytes, otherwise consistent and with a right CRC
    LengthMismatch, // bodyLength one more than recordDataLength + 8
};
constexpr int corruptionKinds = 4;

quint16 crc16(const QByteArray &data);

QByteArray encodeRecord(const Record &record);

QByteArray buildFrame(quint16 packetNumber, quint16 packetCount, const QVector<Record> &records);

// Turns a well-formed frame into one that fails exactly one acceptance test.
QByteArray corruptFrame(const QByteArray &frame, Corruption kind);

const char *corruptionName(Corruption kind);

// The data file line for one record, without a line break.
QString recordLine(const Record &record);

// The worked example: transaction 1234 of 5 December 2011 14:03:09, PLU 105.
Record exampleRecord();

} // namespace scalesim
