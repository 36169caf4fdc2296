// Gravex: filing accepted datagrams, one numbered data file per transfer:
// the receiver's work while the tray program receives itself.
#include "app/gravex.h"

#include "reception/receiver.h"

void Gravex::setFileCounter()
{
    if (receiver)
        receiver->setFileCounter();
}

void Gravex::addFileHeader()
{
    if (receiver)
        receiver->addFileHeader();
}

void Gravex::saveMessage(QByteArray message)
{
    if (receiver)
        receiver->saveMessage(message);
}
