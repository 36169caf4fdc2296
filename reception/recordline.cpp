#include "reception/recordline.h"

#include "reception/frame.h"

#include <QByteArray>
#include <QtEndian>

namespace recordline {
namespace {

template <typename T> T little(QByteArrayView bytes, qsizetype offset)
{
    return qFromLittleEndian<T>(bytes.data() + offset);
}

// The lines are pure ASCII, so they are assembled as bytes and turned into
// text once per datagram.
void append(QByteArray &out, qint64 value, char after)
{
    out.append(QByteArray::number(value)).append(after);
}

void appendLine(QByteArray &out, const Record &r)
{
    append(out, r.transactionNumber, ';');
    append(out, r.recordStatus, ';');
    append(out, r.day, '.');
    out.append(QByteArray::number(r.month)).append(".20");
    if (r.year < 10)
        out.append('0');
    append(out, r.year, ' ');
    append(out, r.hour, ':');
    append(out, r.minute, ':');
    append(out, r.second, ';');
    append(out, r.groupNumber, ';');
    for (quint8 digitGroup : r.scaleNumber)
        out.append(QByteArray::number(digitGroup));
    out.append(';');
    append(out, r.operatorNumber, ';');
    append(out, r.plu, ';');
    append(out, r.price, ';');
    append(out, r.weight, ';');
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
    for (int i = 0; i < 5; ++i)
        r.scaleNumber[i] = quint8(record[18 + i]);
    r.operatorNumber = qint8(record[23]);
    r.plu = little<qint32>(record, 24);
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
    return QString::fromLatin1(text);
}

} // namespace recordline
