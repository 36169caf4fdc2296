// Gravex: the UDP socket, reading datagrams, and what a datagram says.
#include "app/gravex.h"

#include "reception/frame.h"
#include "reception/reception.h"
#include "reception/recordline.h"
#include "tray/tray.h"

#include <QDateTime>

// Receiving and filing are the reception's, which does them where this
// program receives itself.
void Gravex::createUdpSocket()
{
    reception->createUdpSocket();
}

void Gravex::receiveMessage()
{
    reception->receiveMessage();
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
