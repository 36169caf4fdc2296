#include "service/protocol.h"

#include <QDataStream>
#include <QIODevice>
#include <QLocalSocket>
#include <QtEndian>

namespace protocol {
namespace {

// No message is near this: a length beyond it is not this protocol.
constexpr quint32 largest = 16 * 1024 * 1024;
constexpr qsizetype lengthSize = 4;

} // namespace

QByteArray frame(const Message &message)
{
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << quint8(message.kind) << message.values;
    QByteArray framed(lengthSize, Qt::Uninitialized);
    qToBigEndian(quint32(body.size()), framed.data());
    return framed + body;
}

bool takeMessages(QByteArray &buffer, QList<Message> *messages)
{
    qsizetype at = 0;
    while (buffer.size() - at >= lengthSize) {
        const quint32 length = qFromBigEndian<quint32>(buffer.constData() + at);
        if (length > largest)
            return false;
        if (buffer.size() - at - lengthSize < qsizetype(length))
            break;
        QDataStream in(QByteArray::fromRawData(buffer.constData() + at + lengthSize, length));
        in.setVersion(QDataStream::Qt_6_4);
        quint8 kind = 0;
        Message m{};
        in >> kind >> m.values;
        if (in.status() != QDataStream::Ok)
            return false;
        m.kind = Kind(kind);
        messages->append(m);
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
