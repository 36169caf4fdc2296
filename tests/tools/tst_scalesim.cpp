// Runs the built scale simulator and checks what it would send: the worked
// example byte for byte, and that generated traffic keeps the frame rules (or
// breaks exactly one of them when asked to). The CRC here is a third, separate
// implementation.

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kRecordSize = 50;
constexpr int kFrameOverhead = 15;
constexpr int kMinFrameSize = 65;
constexpr int kProcessTimeoutMs = 60000;
const QString kFixedTime = QStringLiteral("2024-03-07T08:09:05");

quint16 crc16(const QByteArray &data)
{
    quint16 reg = 0;
    for (const char c : data) {
        quint16 a = 0;
        quint16 x = quint16((reg >> 8) << 8);
        for (int bit = 0; bit < 8; ++bit) {
            a = ((x ^ a) & 0x8000) ? quint16((a << 1) ^ 0x1021) : quint16(a << 1);
            x = quint16(x << 1);
        }
        reg = quint16((reg << 8) ^ a ^ quint8(c));
    }
    return reg;
}

quint16 le16(const QByteArray &f, int at)
{
    return quint16(quint8(f.at(at)) | (quint8(f.at(at + 1)) << 8));
}

qint32 le32(const QByteArray &f, int at)
{
    return qint32(quint32(le16(f, at)) | (quint32(le16(f, at + 2)) << 16));
}

// The receiver's acceptance tests, in its order; true where the frame passes.
struct Rules
{
    bool size, header, type, length, crc;
    int failures() const { return !size + !header + !type + !length + !crc; }
};

Rules checkRules(const QByteArray &f)
{
    Rules r{};
    r.size = f.size() > 64;
    r.header = f.size() >= 3 && f.startsWith(QByteArray::fromHex("F855CE"));
    r.type = f.size() >= 7 && f.at(5) == 0x02 && f.at(6) == 0x08;
    if (f.size() >= 13) {
        const int recordDataLength = qint16(le16(f, 11));
        r.length = qint16(le16(f, 3)) == recordDataLength + 8 &&
                   f.size() == recordDataLength + kFrameOverhead;
    }
    r.crc = f.size() >= 7 && le16(f, f.size() - 2) == crc16(f.mid(5, f.size() - 7));
    return r;
}

QList<QByteArray> runSim(const QStringList &args, QByteArray *errors = nullptr)
{
    QProcess sim;
    sim.start(QStringLiteral(SCALE_SIM_PATH), args);
    if (!sim.waitForFinished(kProcessTimeoutMs) || sim.exitStatus() != QProcess::NormalExit ||
        sim.exitCode() != 0) {
        qWarning("scale-sim failed: %s", sim.readAllStandardError().constData());
        return {};
    }
    if (errors)
        *errors = sim.readAllStandardError();
    QList<QByteArray> frames;
    const QList<QByteArray> lines = sim.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        if (!line.trimmed().isEmpty())
            frames.append(QByteArray::fromHex(line));
    }
    return frames;
}

} // namespace

class TestScaleSim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void crcCheckValues_data();
    void crcCheckValues();
    void exampleBytes();
    void exampleExpectLine();
    void generatedFramesPassRules_data();
    void generatedFramesPassRules();
    void sameSeedSameBytes();
    void corruptFramesFailExactlyOneRule();
    void expectLinesMatchValidRecords();
};

void TestScaleSim::crcCheckValues_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("crc");
    QTest::newRow("empty input is zero") << QByteArray() << 0x0000;
    QTest::newRow("single byte is itself") << QByteArray::fromHex("41") << 0x0041;
    QTest::newRow("ascii 123456789") << QByteArray::fromHex("313233343536373839") << 0xBEEF;
    QTest::newRow("ascii abc") << QByteArray::fromHex("616263") << 0x1EE4;
    QTest::newRow("worked example body")
        << QByteArray::fromHex("0208010001003200D2040000000000000B0C050E0309020000000000"
                               "00010703690000"
                               "00EE110000E20400000000000000000000000000000000")
        << 0xA39C;
}

void TestScaleSim::crcCheckValues()
{
    QFETCH(QByteArray, input);
    QFETCH(int, crc);
    QCOMPARE(crc16(input), quint16(crc));
}

void TestScaleSim::exampleBytes()
{
    // Transaction 1234 of 5 December 2011 14:03:09, PLU 105, packet 1 of 1.
    const QByteArray expected =
        QByteArray::fromHex("F8 55 CE 3A 00 02 08 01 00 01 00 32 00 D2 04 00"
                            "00 00 00 00 00 0B 0C 05 0E 03 09 02 00 00 00 00"
                            "00 00 01 07 03 69 00 00 00 EE 11 00 00 E2 04 00"
                            "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 9C"
                            "A3");
    QCOMPARE(expected.size(), kMinFrameSize);

    const QList<QByteArray> frames = runSim({QStringLiteral("--example"), QStringLiteral("--hex")});
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first().toHex(' '), expected.toHex(' '));
}

void TestScaleSim::exampleExpectLine()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("expect.txt"));
    QCOMPARE(runSim({QStringLiteral("--example"), QStringLiteral("--hex"),
                     QStringLiteral("--expect"), path})
                 .size(),
             1);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("1234;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"));
}

void TestScaleSim::generatedFramesPassRules_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("packets");
    QTest::newRow("defaults give one 65-byte frame") << QStringList() << 1 << 1 << 1;
    QTest::newRow("many records per datagram")
        << QStringList{QStringLiteral("--records"), QStringLiteral("29")} << 1 << 29 << 1;
    QTest::newRow("multi-packet transfers of several scales")
        << QStringList{QStringLiteral("--scales"),    QStringLiteral("3"),
                       QStringLiteral("--transfers"), QStringLiteral("4"),
                       QStringLiteral("--packets"),   QStringLiteral("5"),
                       QStringLiteral("--records"),   QStringLiteral("2")}
        << 60 << 2 << 5;
    QTest::newRow("interleaved scales with empty records")
        << QStringList{QStringLiteral("--scales"),
                       QStringLiteral("4"),
                       QStringLiteral("--transfers"),
                       QStringLiteral("10"),
                       QStringLiteral("--interleave"),
                       QStringLiteral("--empty-plu"),
                       QStringLiteral("50")}
        << 40 << 1 << 1;
}

void TestScaleSim::generatedFramesPassRules()
{
    QFETCH(QStringList, args);
    QFETCH(int, frames);
    QFETCH(int, records);
    QFETCH(int, packets);
    const QList<QByteArray> sent = runSim(
        args + QStringList{QStringLiteral("--hex"), QStringLiteral("--seed"), QStringLiteral("7")});
    QCOMPARE(sent.size(), frames);
    for (const QByteArray &f : sent) {
        const Rules r = checkRules(f);
        QVERIFY2(r.failures() == 0, f.toHex(' ').constData());
        QVERIFY(f.size() >= kMinFrameSize);
        QCOMPARE(f.size(), kFrameOverhead + records * kRecordSize);
        QCOMPARE(int(le16(f, 9)), packets);
        QVERIFY(le16(f, 7) >= 1 && le16(f, 7) <= packets);
    }
}

void TestScaleSim::sameSeedSameBytes()
{
    const QStringList common{
        QStringLiteral("--hex"),       QStringLiteral("--scales"), QStringLiteral("3"),
        QStringLiteral("--transfers"), QStringLiteral("5"),        QStringLiteral("--corrupt"),
        QStringLiteral("20"),          QStringLiteral("--time"),   kFixedTime};
    const auto withSeed = [&common](const char *seed) {
        return runSim(common + QStringList{QStringLiteral("--seed"), QString::fromLatin1(seed)});
    };
    const QList<QByteArray> first = withSeed("42");
    QCOMPARE(first.size(), 15);
    QCOMPARE(withSeed("42"), first);
    QVERIFY(withSeed("43") != first);
}

void TestScaleSim::corruptFramesFailExactlyOneRule()
{
    const QList<QByteArray> sent =
        runSim({QStringLiteral("--hex"), QStringLiteral("--corrupt"), QStringLiteral("100"),
                QStringLiteral("--transfers"), QStringLiteral("200"), QStringLiteral("--records"),
                QStringLiteral("2")});
    QCOMPARE(sent.size(), 200);
    int badSize = 0, badHeader = 0, badLength = 0, badCrc = 0;
    for (const QByteArray &f : sent) {
        const Rules r = checkRules(f);
        QVERIFY2(r.failures() == 1, f.toHex(' ').constData());
        badSize += !r.size;
        badHeader += !r.header;
        badLength += !r.length;
        badCrc += !r.crc;
        if (!r.size)
            QCOMPARE(f.size(), 64);
    }
    QVERIFY(badSize > 0 && badHeader > 0 && badLength > 0 && badCrc > 0);
}

void TestScaleSim::expectLinesMatchValidRecords()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("expect.txt"));
    QByteArray summary;
    const QList<QByteArray> sent =
        runSim({QStringLiteral("--hex"), QStringLiteral("--scales"), QStringLiteral("2"),
                QStringLiteral("--transfers"), QStringLiteral("30"), QStringLiteral("--records"),
                QStringLiteral("3"), QStringLiteral("--empty-plu"), QStringLiteral("25"),
                QStringLiteral("--corrupt"), QStringLiteral("20"), QStringLiteral("--time"),
                kFixedTime, QStringLiteral("--expect"), path},
               &summary);
    QCOMPARE(sent.size(), 60);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.endsWith("\r\n"));
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast();

    int next = 0;
    for (const QByteArray &f : sent) {
        if (checkRules(f).failures() != 0)
            continue;
        for (int at = 13; at + kRecordSize <= f.size() - 2; at += kRecordSize) {
            const qint32 plu = le32(f, at + 24);
            if (plu == 0)
                continue;
            QVERIFY(next < lines.size());
            const QList<QByteArray> fields = lines.at(next++).chopped(1).split(';');
            QCOMPARE(fields.size(), 10);
            QCOMPARE(fields.at(0).toInt(), le32(f, at));
            QCOMPARE(fields.at(2), QByteArray("7.3.2024 8:9:5"));
            QCOMPARE(fields.at(6).toInt(), plu);
            QCOMPARE(fields.at(7).toInt(), le32(f, at + 28));
            QCOMPARE(fields.at(8).toInt(), le32(f, at + 32));
        }
    }
    QCOMPARE(next, lines.size());
    const QByteArray recordsLine = "records (plu != 0): " + QByteArray::number(next) + '\n';
    QVERIFY2(summary.contains(recordsLine), summary.constData());
}

QTEST_GUILESS_MAIN(TestScaleSim)
#include "tst_scalesim.moc"
