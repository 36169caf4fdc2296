#pragma once

#include <QByteArray>
#include <QStringView>

#include <utility>

class QFileDevice;

// The text in the Windows-1251 code page, the encoding of the data files.
// Characters the code page lacks become '?'. One fixed table, so every
// platform writes the same bytes.
QByteArray toWindows1251(QStringView text);
void appendWindows1251(QByteArray &out, QStringView text);

// The text of a data file on its way to disk. What is written is gathered in
// memory and handed to the file in one go by flush(), so the file only ever
// grows by whole lines: when the system does not take all of it (a full disk,
// a size limit) the file is cut back to the last whole line it took.
class EncodedStream
{
public:
    void setDevice(QFileDevice *device) { file = device; }

    void write(QStringView text) { appendWindows1251(pending, text); }
    // Text known to be ASCII, which the code page keeps as it is.
    void writeAscii(QByteArrayView text) { pending.append(text); }
    bool hasPending() const { return !pending.isEmpty(); }
    // The text not yet handed over, taken out of the stream; put it back with restore().
    QByteArray takePending() { return std::exchange(pending, {}); }
    void restore(const QByteArray &bytes) { pending += bytes; }

    // How much of the gathered text a flush left in the file.
    enum class Flushed { All, Part, None };
    // Hands the gathered text to the system. Part: some whole lines went in
    // (`keptLines` says how many), the rest did not fit; None: not one line
    // (or the device is not open). What did not go in is dropped.
    Flushed flush(qsizetype *keptLines = nullptr);

private:
    QFileDevice *file = nullptr;
    QByteArray pending;
};
