#include "datagramcheck.h"

#include "reception/frame.h"
#include "reception/recordline.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cinttypes>
#include <cstdio>
#include <vector>

namespace fuzzcheck {
namespace {

// ---- The separate decoder: byte offsets straight from the frame layout.

constexpr std::size_t kRecord = 50;
constexpr std::size_t kSmallestFrame = 65;
constexpr std::size_t kRecordsAt = 13;
constexpr std::size_t kBodyAt = 5;

unsigned le16(const std::uint8_t *p)
{
    return unsigned(p[0]) | unsigned(p[1]) << 8;
}

std::int32_t le32s(const std::uint8_t *p)
{
    const std::uint32_t v = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                            std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
    return static_cast<std::int32_t>(v);
}

std::int16_t le16s(const std::uint8_t *p)
{
    return static_cast<std::int16_t>(le16(p));
}

// One record as text, whatever its PLU.
std::string referenceLine(const std::uint8_t *r)
{
    char buf[200];
    const int n = std::snprintf(
        buf, sizeof buf,
        "%" PRId32 ";%d;%u.%u.20%02u %u:%u:%u;%" PRId32 ";%u%u%u%u%u;%d;%" PRId32 ";%" PRId32
        ";%" PRId32 ";",
        le32s(r), int(le16s(r + 6)), unsigned(r[10]), unsigned(r[9]), unsigned(r[8]),
        unsigned(r[11]), unsigned(r[12]), unsigned(r[13]), le32s(r + 14), unsigned(r[18]),
        unsigned(r[19]), unsigned(r[20]), unsigned(r[21]), unsigned(r[22]),
        int(static_cast<std::int8_t>(r[23])), le32s(r + 24), le32s(r + 28), le32s(r + 32));
    return std::string(buf, std::size_t(n));
}

bool plainRecordLine(const std::string &line)
{
    int semicolons = 0, blanks = 0;
    for (char c : line) {
        if (static_cast<unsigned char>(c) >= 0x80 || c == '\r' || c == '\n')
            return false;
        semicolons += c == ';';
        blanks += c == ' ';
    }
    return semicolons == 9 && blanks == 1 && !line.empty() && line.back() == ';';
}

std::string hex(const std::uint8_t *data, std::size_t size)
{
    std::string out;
    char b[4];
    for (std::size_t i = 0; i < size && i < 200; ++i) {
        std::snprintf(b, sizeof b, "%02X ", unsigned(data[i]));
        out += b;
    }
    if (size > 200)
        out += "...";
    return out;
}

std::uint16_t referenceCrc16(const std::uint8_t *data, std::size_t size);
bool referenceAccepts(const std::uint8_t *data, std::size_t size);
std::string referenceRender(const std::uint8_t *records, std::size_t size);

std::string latin1(const QString &s)
{
    const QByteArray b = s.toLatin1();
    return std::string(b.constData(), std::size_t(b.size()));
}

// ---- Comparisons.

struct Checker
{
    std::string &why;
    bool ok = true;

    void expect(bool agree, const std::string &what)
    {
        if (!agree && ok) {
            ok = false;
            why = what;
        }
    }

    template <typename A, typename B>
    void same(const A &ours, const B &reference, const std::string &what)
    {
        expect(ours == reference, what);
    }

    void renderings(const std::uint8_t *records, std::size_t size, const char *what)
    {
        const QByteArrayView view(reinterpret_cast<const char *>(records), qsizetype(size));
        const std::string mine = latin1(recordline::renderAll(view));
        const std::string ref = referenceRender(records, size);
        expect(mine == ref, std::string(what) + ": renderAll gave\n  " + mine +
                                "\nthe separate decoder\n  " + ref);
        for (std::size_t k = 0; k + kRecord <= size && ok; k += kRecord) {
            const std::string line = referenceLine(records + k);
            expect(plainRecordLine(line), "separate decoder made an odd line: " + line);
            const std::string one = latin1(recordline::render(
                recordline::decode(view.sliced(qsizetype(k), qsizetype(kRecord)))));
            const std::string record = std::to_string(k / kRecord);
            expect(one == line, std::string(what) + ": render(decode(record " + record +
                                    ")) gave " + one + ", the separate decoder " + line);
        }
    }

    void datagram(const std::uint8_t *data, std::size_t size, const char *what)
    {
        const QByteArrayView view(reinterpret_cast<const char *>(data), qsizetype(size));
        const std::string label = std::string(what) + " datagram of " + std::to_string(size) +
                                  " bytes [" + hex(data, size) + "]";

        const bool prefix = size >= kSmallestFrame && data[0] == 0xF8 && data[1] == 0x55 &&
                            data[2] == 0xCE && data[5] == 0x02 && data[6] == 0x08;
        same(frame::hasValidPrefix(view), prefix, label + ": size, header and type test");
        if (!prefix || !ok)
            return;

        const bool length = std::int32_t(le16s(data + 3)) == std::int32_t(le16s(data + 11)) + 8;
        same(frame::hasValidLength(view), length, label + ": length test");
        const bool crc = le16(data + size - 2) == referenceCrc16(data + kBodyAt, size - 7);
        same(frame::hasValidCrc(view), crc, label + ": CRC test");
        same(frame::endsTransfer(view), le16(data + 7) == le16(data + 9),
             label + ": end of transfer");
        const QByteArrayView records = frame::recordData(view);
        expect(records.data() == view.data() + kRecordsAt &&
                   std::size_t(records.size()) == size - kRecordsAt - 2,
               label + ": record data are not bytes 13 up to the CRC");
        if (ok && length && crc)
            renderings(data + kRecordsAt, size - kRecordsAt - 2, label.c_str());
    }
};

// The input made into a frame that passes every test: its bytes become the
// record data (at least one whole record), the packet numbers come from its
// size, and the length fields and CRC are set right.
std::vector<std::uint8_t> repaired(const std::uint8_t *data, std::size_t size)
{
    std::size_t recordBytes = size < kRecord ? kRecord : size;
    if (recordBytes > 32759) // recordDataLength is signed 16-bit: 32767 - 8
        recordBytes = 32759;
    std::vector<std::uint8_t> f(recordBytes + 15, 0);
    f[0] = 0xF8;
    f[1] = 0x55;
    f[2] = 0xCE;
    const unsigned body = unsigned(recordBytes + 8);
    f[3] = std::uint8_t(body);
    f[4] = std::uint8_t(body >> 8);
    f[5] = 0x02;
    f[6] = 0x08;
    f[7] = std::uint8_t(size % 3); // packet number 0..2
    f[9] = std::uint8_t(size % 2 + 1); // packet count 1..2
    f[11] = std::uint8_t(recordBytes);
    f[12] = std::uint8_t(recordBytes >> 8);
    for (std::size_t i = 0; i < size && i < recordBytes; ++i)
        f[kRecordsAt + i] = data[i];
    const unsigned crc = referenceCrc16(f.data() + kBodyAt, f.size() - 7);
    f[f.size() - 2] = std::uint8_t(crc);
    f[f.size() - 1] = std::uint8_t(crc >> 8);
    return f;
}

// Bit by bit, as the frame's CRC is defined: the high byte of the register
// yields a value by eight shift steps with 0x1021; the register becomes
// (register << 8) XOR that value XOR the byte.
std::uint16_t referenceCrc16(const std::uint8_t *data, std::size_t size)
{
    unsigned reg = 0;
    for (std::size_t i = 0; i < size; ++i) {
        unsigned a = 0;
        unsigned x = (reg >> 8) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            a = ((x ^ a) & 0x8000) ? ((a << 1) ^ 0x1021) & 0xFFFF : (a << 1) & 0xFFFF;
            x = (x << 1) & 0xFFFF;
        }
        reg = ((reg << 8) ^ a ^ data[i]) & 0xFFFF;
    }
    return std::uint16_t(reg);
}

bool referenceAccepts(const std::uint8_t *data, std::size_t size)
{
    return size >= kSmallestFrame && data[0] == 0xF8 && data[1] == 0x55 && data[2] == 0xCE &&
           data[5] == 0x02 && data[6] == 0x08 &&
           std::int32_t(le16s(data + 3)) == std::int32_t(le16s(data + 11)) + 8 &&
           le16(data + size - 2) == referenceCrc16(data + kBodyAt, size - 7);
}

std::string referenceRender(const std::uint8_t *records, std::size_t size)
{
    std::string text;
    for (std::size_t k = 0; k + kRecord <= size; k += kRecord) {
        if (le32s(records + k + 24) == 0)
            continue;
        if (!text.empty())
            text += "\r\n";
        text += referenceLine(records + k);
    }
    return text;
}

} // namespace

bool checkDatagram(const std::uint8_t *data, std::size_t size, std::string &why)
{
    Checker c{why};
    const QByteArrayView view(reinterpret_cast<const char *>(data), qsizetype(size));

    c.same(frame::crc16(view), referenceCrc16(data, size), "crc16 of the whole input");
    if (c.ok)
        c.datagram(data, size, "received");
    // Any bytes are record data to the renderer.
    if (c.ok)
        c.renderings(data, size, "input as record data");

    const std::vector<std::uint8_t> f = repaired(data, size);
    if (c.ok) {
        c.expect(referenceAccepts(f.data(), f.size()), "the repaired frame is not valid");
        c.datagram(f.data(), f.size(), "repaired");
        const QByteArrayView v(reinterpret_cast<const char *>(f.data()), qsizetype(f.size()));
        c.expect(frame::hasValidPrefix(v) && frame::hasValidLength(v) && frame::hasValidCrc(v),
                 "a repaired, valid frame of " + std::to_string(f.size()) +
                     " bytes was not accepted");
    }
    return c.ok;
}

} // namespace fuzzcheck
