// Gravex: the UDP socket, reading datagrams, and what a datagram says.
#include "app/gravex.h"

#include "reception/frame.h"
#include "reception/receiver.h"
#include "reception/recordline.h"
#include "tray/tray.h"

#include <QDateTime>

// Receiving and filing are the receiver's; the tray program's main object
// owns it while it receives itself.
void Gravex::createUdpSocket()
{
    if (receiver)
        receiver->createUdpSocket();
}

void Gravex::receiveMessage()
{
    if (receiver)
        receiver->receiveMessage();
}

QString Gravex::getMessageString(QByteArray messageData)
{
    return recordline::renderAll(messageData);
}

word Gravex::crc16(QByteArray buf)
{
    return frame::crc16(buf);
}

// Tells the user that new results have been stored.
void Gravex::announceArrival(const QDateTime &time)
{
    if (showTrayMessage)
        trayIcon->announce(time);
}
