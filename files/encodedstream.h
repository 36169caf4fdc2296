#pragma once

#include <QString>

class QFileDevice;
class QTextCodec;

// Writes text to a file in the Windows-1251 code page, the encoding of the
// data files. Nothing is held back: flush() hands everything written so far
// to the operating system, and a failure is reported, not swallowed.
class EncodedStream
{
public:
    EncodedStream();

    void setDevice(QFileDevice *device);
    QFileDevice *device() const { return file; }

    // False if the device is not open or did not take all the bytes.
    bool write(const QString &text);
    bool flush();

private:
    QFileDevice *file = nullptr;
    QTextCodec *codec = nullptr;
};
