#include "datagramcheck.h"

#include "reception/frame.h"
#include "reception/recordline.h"

#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

namespace fuzzcheck {
namespace {

// ---- The separate decoder: byte offsets straight from the frame layout.

constexpr std::size_t recordBytes = 50;

unsigned le16(const std::uint8_t *p)
{
    return unsigned(p[0]) | unsigned(p[1]) << 8;
}

std::int32_t le32(const std::uint8_t *p)
{
    return std::int32_t(std::uint32_t(le16(p)) | std::uint32_t(le16(p + 2)) << 16);
}

// Bit by bit, as the frame's CRC is defined: the high byte of the register
// yields a value by eight shift steps with 0x1021; the register becomes
// (register << 8) XOR that value XOR the byte.
unsigned crc16(const std::uint8_t *data, std::size_t size)
{
    unsigned reg = 0;
    for (std::size_t i = 0; i < size; ++i) {
        unsigned a = 0, x = reg & 0xFF00;
        for (int bit = 0; bit < 8; ++bit, x = (x << 1) & 0xFFFF)
            a = (((x ^ a) & 0x8000) ? (a << 1) ^ 0x1021 : a << 1) & 0xFFFF;
        reg = ((reg << 8) ^ a ^ data[i]) & 0xFFFF;
    }
    return reg;
}

// The lines of the records whose PLU is not 0, joined by CR LF.
std::string render(const std::uint8_t *r, std::size_t size)
{
    std::string text;
    for (; size >= recordBytes; r += recordBytes, size -= recordBytes) {
        if (le32(r + 24) == 0)
            continue;
        char line[200];
        const int n = std::snprintf(
            line, sizeof line,
            "%s%" PRId32 ";%d;%u.%u.20%02u %u:%u:%u;%" PRId32 ";%u%u%u%u%u;%d;%" PRId32 ";%" PRId32
            ";%" PRId32 ";",
            text.empty() ? "" : "\r\n", le32(r), int(std::int16_t(le16(r + 6))), r[10], r[9], r[8],
            r[11], r[12], r[13], le32(r + 14), r[18], r[19], r[20], r[21], r[22],
            int(std::int8_t(r[23])), le32(r + 24), le32(r + 28), le32(r + 32));
        text.append(line, std::size_t(n));
    }
    return text;
}

std::string ours(QByteArrayView records)
{
    const QByteArray bytes = recordline::renderAll(records).toLatin1();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

// Each check of the receiver against the decoder, on one datagram.
bool compare(const std::uint8_t *d, std::size_t size, std::string &why)
{
    const QByteArrayView view(reinterpret_cast<const char *>(d), qsizetype(size));
    const auto differs = [&](const char *what) {
        why = std::string(what) + " differs on a datagram of " + std::to_string(size) + " bytes";
        return false;
    };
    if (frame::crc16(view) != crc16(d, size))
        return differs("crc16");
    if (ours(view) != render(d, size))
        return differs("the record lines of the bytes as record data");
    const bool prefix =
        size >= 65 && d[0] == 0xF8 && d[1] == 0x55 && d[2] == 0xCE && d[5] == 2 && d[6] == 8;
    if (frame::hasValidPrefix(view) != prefix)
        return differs("the size, header and type check");
    if (!prefix)
        return true;
    const bool length = std::int16_t(le16(d + 3)) == std::int16_t(le16(d + 11)) + 8;
    if (frame::hasValidLength(view) != length)
        return differs("the length check");
    if (frame::hasValidCrc(view) != (le16(d + size - 2) == crc16(d + 5, size - 7)))
        return differs("the CRC check");
    if (frame::endsTransfer(view) != (le16(d + 7) == le16(d + 9)))
        return differs("the end of transfer");
    if (ours(frame::recordData(view)) != render(d + 13, size - 15))
        return differs("the record lines of the datagram");
    return true;
}

// The input made into a frame that passes every check: its bytes become the
// record data (at least one record), and the length fields and CRC are set.
std::vector<std::uint8_t> repaired(const std::uint8_t *data, std::size_t size)
{
    const std::size_t records = std::min<std::size_t>(std::max(size, recordBytes), 32759);
    std::vector<std::uint8_t> f(records + 15, 0);
    const std::uint8_t head[] = {0xF8,
                                 0x55,
                                 0xCE,
                                 std::uint8_t(records + 8),
                                 std::uint8_t((records + 8) >> 8),
                                 2,
                                 8,
                                 std::uint8_t(size % 3),
                                 0,
                                 std::uint8_t(size % 2 + 1),
                                 0,
                                 std::uint8_t(records),
                                 std::uint8_t(records >> 8)};
    std::copy(head, head + 13, f.begin());
    std::copy(data, data + std::min(size, records), f.begin() + 13);
    const unsigned crc = crc16(f.data() + 5, f.size() - 7);
    f[f.size() - 2] = std::uint8_t(crc);
    f[f.size() - 1] = std::uint8_t(crc >> 8);
    return f;
}

} // namespace

bool checkDatagram(const std::uint8_t *data, std::size_t size, std::string &why)
{
    const std::vector<std::uint8_t> f = repaired(data, size);
    const QByteArrayView valid(reinterpret_cast<const char *>(f.data()), qsizetype(f.size()));
    if (!compare(data, size, why) || !compare(f.data(), f.size(), why))
        return false;
    if (!frame::hasValidPrefix(valid) || !frame::hasValidLength(valid) ||
        !frame::hasValidCrc(valid)) {
        why = "a valid frame was refused";
        return false;
    }
    return true;
}

} // namespace fuzzcheck
