// The datagram fuzzer's comparison as an ordinary test: the seeds and a
// fixed, seeded series of mutations of them go through the same check as
// under libFuzzer (make fuzz runs it open-ended). It also writes the seeds
// out, a file each, as libFuzzer takes them:
//
//   tst_fuzzreplay --write-seeds FOLDER
#include "datagramcheck.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

namespace {

QList<QByteArray> seeds()
{
    QFile f(QStringLiteral(SEEDS_FILE));
    QList<QByteArray> out;
    f.open(QIODevice::ReadOnly);
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        if (!line.isEmpty() && !line.startsWith('#'))
            out.append(QByteArray::fromHex(line));
    }
    return out;
}

// Bit flips, edge bytes, cuts, random tails and length fields.
QByteArray mutate(QByteArray b, QRandomGenerator &random)
{
    const auto at = [&] { return random.bounded(int(b.size())); };
    for (int step = random.bounded(1, 5); step > 0; --step) {
        const int kind = random.bounded(b.size() < 13 ? 4 : 5);
        if (kind == 0 && !b.isEmpty())
            b[at()] ^= char(1 << random.bounded(8));
        else if (kind == 1 && !b.isEmpty())
            b[at()] = "\x00\x01\x7F\x80\xFF"[random.bounded(5)];
        else if (kind == 2)
            b.truncate(random.bounded(int(b.size()) + 1));
        else if (kind == 3)
            for (int n = random.bounded(120); n > 0; --n)
                b.append(char(random.bounded(256)));
        else if (kind == 4)
            b[random.bounded(2) ? 3 : 11] = char(random.bounded(256));
    }
    return b;
}

bool agrees(const QByteArray &input, std::string &why)
{
    return fuzzcheck::checkDatagram(reinterpret_cast<const std::uint8_t *>(input.constData()),
                                    std::size_t(input.size()), why);
}

} // namespace

class TestFuzzReplay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void seedsAndMutationsAgree()
    {
        const QList<QByteArray> all = seeds();
        QVERIFY2(all.size() >= 5, "tests/fuzz/seeds.hex not found or nearly empty");
        QRandomGenerator random(20240307);
        for (int i = 0; i < 20000; ++i) {
            const QByteArray input = i < all.size()
                                         ? all.at(i)
                                         : mutate(all.at(random.bounded(int(all.size()))), random);
            std::string why;
            QVERIFY2(agrees(input, why),
                     QByteArray(input.toHex() + ": " + QByteArray::fromStdString(why)).constData());
        }
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--write-seeds") == 0) {
        int n = 0;
        for (const QByteArray &seed : seeds()) {
            QFile file(QFile::decodeName(argv[2]) + '/' + QString::number(++n));
            if (!file.open(QIODevice::WriteOnly) || file.write(seed) != seed.size())
                return 1;
        }
        return n > 0 ? 0 : 1;
    }
    TestFuzzReplay test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_fuzzreplay.moc"
