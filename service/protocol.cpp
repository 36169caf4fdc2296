#include "service/protocol.h"

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

void send(QLocalSocket *socket, Kind kind, const QVariantMap &values)
{
    socket->write(frame({kind, values}));
}

} // namespace protocol
