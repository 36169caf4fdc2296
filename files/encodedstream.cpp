#include "files/encodedstream.h"

#include <QFileDevice>
#include <QTextCodec>

EncodedStream::EncodedStream() : codec(QTextCodec::codecForName("Windows-1251"))
{
}

void EncodedStream::setDevice(QFileDevice *device)
{
    file = device;
}

bool EncodedStream::write(const QString &text)
{
    if (!file || !file->isOpen())
        return false;
    const QByteArray bytes = codec->fromUnicode(text);
    return file->write(bytes) == bytes.size();
}

bool EncodedStream::flush()
{
    return file && file->isOpen() && file->flush();
}
