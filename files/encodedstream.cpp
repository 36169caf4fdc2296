#include "files/encodedstream.h"

#include <QFileDevice>

namespace {

// Bytes 0x80..0xBF of Windows-1251; 0x98 is not assigned (0 never matches:
// ASCII never gets this far). Bytes 0xC0..0xFF are the Cyrillic letters
// А..я, U+0410..U+044F, in order.
constexpr char16_t upperHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};
constexpr char16_t firstLetter = 0x0410;
constexpr char16_t lastLetter = 0x044F;

char encode(char16_t c)
{
    if (c >= firstLetter && c <= lastLetter)
        return char(0xC0 + (c - firstLetter));
    for (int i = 0; i < 64; ++i) {
        if (upperHalf[i] == c)
            return char(0x80 + i);
    }
    return '?';
}

} // namespace

void appendWindows1251(QByteArray &out, QStringView text)
{
    const qsizetype start = out.size(), size = text.size();
    out.resize(start + size);
    char *to = out.data() + start;
    const char16_t *from = text.utf16();
    // Record lines are ASCII, the same bytes in every code page: one plain
    // pass, which the compiler can vectorise, settles them.
    char16_t bits = 0;
    for (qsizetype i = 0; i < size; ++i) {
        to[i] = char(from[i]);
        bits |= from[i];
    }
    if (bits < 0x80)
        return;
    for (const QChar *c = text.begin(), *end = text.end(); c != end; ++c) {
        const char16_t u = c->unicode();
        *to++ = u < 0x80 ? char(u) : encode(u);
        // A character outside the BMP is one '?', not two.
        if (c->isHighSurrogate() && c + 1 != end && (c + 1)->isLowSurrogate())
            ++c;
    }
    out.truncate(to - out.constData());
}

QByteArray toWindows1251(QStringView text)
{
    QByteArray bytes;
    appendWindows1251(bytes, text);
    return bytes;
}

EncodedStream::Flushed EncodedStream::flush(qsizetype *keptLines)
{
    const QByteArray bytes = takePending();
    if (bytes.isEmpty())
        return Flushed::All;
    if (!file || !file->isOpen())
        return Flushed::None;
    const qint64 end = file->pos();
    const qint64 written = file->write(bytes);
    if (written == bytes.size())
        return Flushed::All;
    // Never leave a line cut in two: the file keeps the whole lines it took.
    const qsizetype kept = written > 0 ? bytes.lastIndexOf('\n', written - 1) + 1 : 0;
    file->resize(end + kept);
    if (keptLines)
        *keptLines = bytes.left(kept).count('\n');
    return kept > 0 ? Flushed::Part : Flushed::None;
}
