#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The On-Line datagram that the scales send: a frame around whole 50-byte
// transaction records. Integers on the wire are little-endian.
//
//   0  header F8 55 CE          7  packetNumber      (16 bit)
//   3  bodyLength  (16 bit)     9  packetCount       (16 bit)
//   5  messageType 02          11  recordDataLength  (16 bit)
//   6  messageSubtype 08       13  records ... then the CRC16 of bytes 5..size-3
namespace frame {

constexpr char frameHeader[] = {'\xF8', '\x55', '\xCE'};
constexpr char messageType = '\x02';
constexpr char messageSubtype = '\x08';
constexpr qsizetype bodyOffset = 5;
constexpr qsizetype recordsOffset = 13;
constexpr qsizetype crcSize = 2;
constexpr qsizetype recordSize = 50;
// Everything around the records: 13 bytes in front, the CRC behind.
constexpr qsizetype overhead = recordsOffset + crcSize;
// The smallest datagram that can carry one whole record.
constexpr qsizetype minimumSize = overhead + recordSize;

// The CRC16 of the frames: polynomial 0x1021, register starting at 0, each
// byte entering the register at the bottom.
quint16 crc16(QByteArrayView bytes);

// The acceptance checks, in the order they are applied. The later ones read
// fields of the frame and are only meaningful once hasValidPrefix() holds.
bool hasValidPrefix(QByteArrayView datagram); // size, header and type bytes
bool hasValidLength(QByteArrayView datagram); // bodyLength == recordDataLength + 8
bool hasValidCrc(QByteArrayView datagram);

// Bytes 13 up to the CRC: the records, with any trailing partial record.
QByteArrayView recordData(QByteArrayView datagram);

// The datagram that ends a transfer carries packetNumber == packetCount.
bool endsTransfer(QByteArrayView datagram);
quint16 packetNumber(QByteArrayView datagram);
quint16 packetCount(QByteArrayView datagram);

} // namespace frame
