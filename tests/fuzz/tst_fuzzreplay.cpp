// The datagram fuzzer's checks as an ordinary test: the separate decoder is
// first checked against known values, then the seeds and a fixed, seeded
// series of mutations of them go through the same comparison as under
// libFuzzer (tests/fuzz/run.sh runs it open-ended).

#include "datagramcheck.h"

#include <QFile>
#include <QTest>

#include <vector>

using fuzzcheck::checkDatagram;

namespace {

// Mutated inputs per run: a bounded count, about a second of work.
constexpr int kMutations = 20000;

// Transaction 1234 of 5 December 2011 14:03:09, PLU 105, packet 1 of 1.
const QByteArray kWorkedExample =
    QByteArray::fromHex("F8 55 CE 3A 00 02 08 01 00 01 00 32 00 D2 04 00"
                        "00 00 00 00 00 0B 0C 05 0E 03 09 02 00 00 00 00"
                        "00 00 01 07 03 69 00 00 00 EE 11 00 00 E2 04 00"
                        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 9C"
                        "A3");

const std::uint8_t *bytes(const QByteArray &b)
{
    return reinterpret_cast<const std::uint8_t *>(b.constData());
}

std::string render(const QByteArray &records)
{
    return fuzzcheck::referenceRender(bytes(records), std::size_t(records.size()));
}

QByteArray record(int transaction, int plu)
{
    QByteArray r(50, '\0');
    for (int i = 0; i < 4; ++i) {
        r[i] = char(quint32(transaction) >> (8 * i));
        r[24 + i] = char(quint32(plu) >> (8 * i));
    }
    r[8] = 12; // 2012
    r[9] = 2;
    r[10] = 1;
    r[13] = 5;
    return r;
}

QList<QByteArray> seeds()
{
    QFile f(QStringLiteral(SEEDS_FILE));
    QList<QByteArray> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        if (!line.isEmpty() && !line.startsWith('#'))
            out.append(QByteArray::fromHex(line));
    }
    return out;
}

// SplitMix64: the same series of mutations on every machine.
struct Prng
{
    quint64 s;
    quint64 next()
    {
        quint64 z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(next() % quint64(n)); }
};

QByteArray mutate(QByteArray b, Prng &rng)
{
    const int steps = 1 + rng.below(4);
    for (int s = 0; s < steps; ++s) {
        switch (rng.below(7)) {
        case 0: // flip a bit
            if (!b.isEmpty())
                b[rng.below(int(b.size()))] ^= char(1 << rng.below(8));
            break;
        case 1: // set a byte to an edge value
            if (!b.isEmpty()) {
                static const char edges[] = {'\x00', '\x01', '\x7F', '\x80', '\xFF', '\x09', '\x0A', '\x64'};
                b[rng.below(int(b.size()))] = edges[rng.below(8)];
            }
            break;
        case 2: // cut the end off
            b.truncate(b.isEmpty() ? 0 : rng.below(int(b.size()) + 1));
            break;
        case 3: // add random bytes
            for (int n = rng.below(120); n > 0; --n)
                b.append(char(rng.next()));
            break;
        case 4: // drop a byte in the middle
            if (!b.isEmpty())
                b.remove(rng.below(int(b.size())), 1);
            break;
        case 5: // a random 16-bit length field
            if (b.size() >= 13) {
                const int at = rng.below(2) ? 3 : 11;
                b[at] = char(rng.next());
                b[at + 1] = char(rng.next());
            }
            break;
        default: // all new bytes
            b = QByteArray(rng.below(300), '\0');
            for (char &c : b)
                c = char(rng.next());
            break;
        }
    }
    return b;
}

} // namespace

class TestFuzzReplay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void referenceCrcCheckValues();
    void referenceRendersKnownLines();
    void workedExampleAgrees();
    void seedsAgree();
    void mutationsAgree();
};

void TestFuzzReplay::referenceCrcCheckValues()
{
    const QByteArray nine("123456789");
    QCOMPARE(fuzzcheck::referenceCrc16(nullptr, 0), quint16(0));
    QCOMPARE(fuzzcheck::referenceCrc16(bytes(QByteArray("A")), 1), quint16(0x41));
    QCOMPARE(fuzzcheck::referenceCrc16(bytes(nine), 9), quint16(0xBEEF));
    QCOMPARE(fuzzcheck::referenceCrc16(bytes(QByteArray("abc")), 3), quint16(0x1EE4));
}

// The separate decoder is only a second opinion if it is right itself.
void TestFuzzReplay::referenceRendersKnownLines()
{
    QCOMPARE(kWorkedExample.size(), 65);
    QCOMPARE(render(kWorkedExample.mid(13, 50)),
             std::string("1234;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;"));

    QByteArray r = record(-1, 7);
    r[32] = '\x9C'; // weight -100
    r[33] = r[34] = r[35] = '\xFF';
    r[23] = '\xC8'; // operator -56
    r[18] = 1;
    r[19] = 23;
    r[20] = 0;
    r[21] = '\xFF';
    r[22] = 9; // scale number 1, 23, 0, 255, 9
    QCOMPARE(render(r), std::string("-1;0;1.2.2012 0:0:5;0;12302559;-56;7;0;-100;"));
    r[8] = 7;
    QCOMPARE(render(r).substr(0, 20), std::string("-1;0;1.2.2007 0:0:5;"));

    // PLU 0 is skipped; lines are joined by CR LF, none after the last;
    // a trailing partial record is ignored.
    const QByteArray two = record(1, 0) + record(2, 5) + record(3, 6) + QByteArray(20, '\x01');
    QCOMPARE(render(two), std::string("2;0;1.2.2012 0:0:5;0;00000;0;5;0;0;\r\n"
                                      "3;0;1.2.2012 0:0:5;0;00000;0;6;0;0;"));
    QCOMPARE(render(record(1, 0)), std::string());
    QCOMPARE(render(QByteArray(49, '\x01')), std::string());
}

void TestFuzzReplay::workedExampleAgrees()
{
    QVERIFY(fuzzcheck::referenceAccepts(bytes(kWorkedExample), std::size_t(kWorkedExample.size())));
    QVERIFY(!fuzzcheck::referenceAccepts(bytes(kWorkedExample), 64));
    std::string why;
    QVERIFY2(checkDatagram(bytes(kWorkedExample), std::size_t(kWorkedExample.size()), why),
             why.c_str());
}

void TestFuzzReplay::seedsAgree()
{
    const QList<QByteArray> all = seeds();
    QVERIFY2(all.size() >= 5, "tests/fuzz/seeds.hex not found or nearly empty");
    QCOMPARE(all.first(), kWorkedExample);
    for (const QByteArray &s : all) {
        std::string why;
        QVERIFY2(checkDatagram(bytes(s), std::size_t(s.size()), why), why.c_str());
    }
}

void TestFuzzReplay::mutationsAgree()
{
    const QList<QByteArray> all = seeds();
    QVERIFY(!all.isEmpty());
    Prng rng{20240307};
    int accepted = 0;
    for (int i = 0; i < kMutations; ++i) {
        const QByteArray input = mutate(all.at(rng.below(int(all.size()))), rng);
        accepted += fuzzcheck::referenceAccepts(bytes(input), std::size_t(input.size()));
        std::string why;
        if (!checkDatagram(bytes(input), std::size_t(input.size()), why))
            QFAIL(qPrintable(QStringLiteral("mutation %1 (%2): %3")
                                 .arg(i)
                                 .arg(QString::fromLatin1(input.toHex()), QString::fromStdString(why))));
    }
    // Some mutations stay valid frames as received (the repaired copy of every
    // input is valid anyway).
    QVERIFY2(accepted > 10, qPrintable(QStringLiteral("only %1 mutations were valid").arg(accepted)));
}

QTEST_APPLESS_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
