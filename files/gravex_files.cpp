// Gravex: filing accepted datagrams, one numbered data file per transfer:
// the reception's work, where this program receives itself.
#include "app/gravex.h"

#include "reception/reception.h"

void Gravex::setFileCounter()
{
    reception->setFileCounter();
}

void Gravex::addFileHeader()
{
    reception->addFileHeader();
}

void Gravex::saveMessage(QByteArray message)
{
    reception->saveMessage(message);
}
