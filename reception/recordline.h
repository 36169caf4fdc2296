#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QString>

// One 50-byte transaction record as the scale sends it.
struct Record
{
    qint32 transactionNumber{};
    qint16 recordStatus{};
    quint8 year{}; // within 2000..2099
    quint8 month{};
    quint8 day{};
    quint8 hour{};
    quint8 minute{};
    quint8 second{};
    qint32 groupNumber{};
    quint8 scaleNumber[5]{};
    qint8 operatorNumber{};
    qint32 plu{};    // 0 marks an empty record
    qint32 price{};  // raw integer, no scaling
    qint32 weight{}; // raw integer, no scaling
};

namespace recordline {

// Decodes the record at `record` (recordSize bytes).
Record decode(QByteArrayView record);

// Nine semicolon-terminated fields, for example
// 1234;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;
QString render(const Record &record);

// The lines of all non-empty records in `recordData`, joined by CR LF with
// none after the last; a trailing partial record is ignored.
QString renderAll(QByteArrayView recordData);
// The same lines as bytes: ASCII alone (digits, ';', '.', ':', ' '), so
// the same bytes in the data files' code page.
QByteArray renderAllText(QByteArrayView recordData);

// A record whose PLU is 0 is empty: it gives no line.
bool isEmpty(QByteArrayView record);

// The scale field of a record (five bytes) as one number, for counting, and
// as the data files write it (0 0 0 1 7 gives 00017).
quint64 scaleKey(QByteArrayView record);
qint32 transactionNumber(QByteArrayView record);
// The record's date and time as seconds since 1.1.1970 of the scale's own
// clock (its time zone unknown, so read as if it were UTC); the fields as
// sent, unchecked.
qint64 scaleSeconds(QByteArrayView record);
QString scaleText(quint64 key);

// The local time of an arrival as the notice shows it, "dd.MM.yyyy  hh:mm:ss"
// (two blanks, 24-hour clock); formatted by hand, since the notice is given
// for every batch of datagrams.
QString arrivalTime(const QDateTime &time);

} // namespace recordline
