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
    // Record lines are plain ASCII, the same bytes in every code page.
    const QByteArray bytes =
        QtPrivate::isAscii(QStringView(text)) ? text.toLatin1() : codec->fromUnicode(text);
    return file->write(bytes) == bytes.size();
}

bool EncodedStream::flush()
{
    return file && file->isOpen() && file->flush();
}
