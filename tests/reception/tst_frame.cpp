// The acceptance checks of the On-Line frame and the CRC16 the scales use,
// against frames written out byte by byte and an independent CRC.
#include "frames.h"
#include "reception/frame.h"
#include "reception/recordline.h"

#include <QRandomGenerator>
#include <QTest>

using namespace frames;

namespace {

// CRC-16/XMODEM, bit by bit: polynomial 0x1021, start 0, no reflection.
quint16 xmodem(const QByteArray &data)
{
    quint16 crc = 0;
    for (char c : data) {
        crc ^= quint16(quint8(c) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

} // namespace

class TestFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checks_data();
    void checks();
    void spareBytesAfterLastRecordAreNotRead();
    void endsTransfer_data();
    void endsTransfer();
    void crcCheckValues_data();
    void crcCheckValues();
    void crcMatchesXmodemOracle();
};

void TestFrame::checks_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("prefix");
    QTest::addColumn<bool>("length");
    QTest::addColumn<bool>("crc");

    QTest::newRow("worked example") << example << true << true << true;
    QTest::newRow("64 bytes, header, type and CRC right") << size64 << false << true << true;
    QTest::newRow("header bytes swapped") << headerSwapped << false << true << true;
    QTest::newRow("subtype 09") << subtype09 << false << true << true;
    QTest::newRow("empty datagram") << QByteArray() << false << false << false;
    QTest::newRow("bodyLength one too many") << bodyLengthPlusOne << true << false << true;
    QTest::newRow("bodyLength one too few")
        << make("F855CE 3900 0208 0100 0100 3200", exampleRecord, "9CA3") << true << false << true;
    QTest::newRow("wrong CRC") << wrongCrc << true << true << false;
    QTest::newRow("CRC stored high byte first")
        << make("F855CE 3A00 0208 0100 0100 3200", exampleRecord, "A39C") << true << true << false;
    // bodyLength 0x8000.. equals recordDataLength + 8 only if the sum wraps.
    QTest::newRow("recordDataLength 32760")
        << make("F855CE 0080 0208 0100 0100 F87F", exampleRecord, "C7FF") << true << false << true;
    QTest::newRow("recordDataLength 32763")
        << make("F855CE 0380 0208 0100 0100 FB7F", exampleRecord, "5DC9") << true << false << true;
    QTest::newRow("recordDataLength 32767")
        << make("F855CE 0780 0208 0100 0100 FF7F", exampleRecord, "8580") << true << false << true;
    // Read as signed, -1 + 8 is 7: the check compares the fields only.
    QTest::newRow("recordDataLength -1, bodyLength 7")
        << make("F855CE 0700 0208 0100 0100 FFFF", exampleRecord, "BE89") << true << true << true;
    QTest::newRow("two records and 20 spare bytes") << twoRecordsAndSpare << true << true << true;
}

void TestFrame::checks()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, prefix);
    QFETCH(bool, length);
    QFETCH(bool, crc);

    QCOMPARE(frame::hasValidPrefix(datagram), prefix);
    // The later checks read fields beyond the first 13 bytes.
    if (datagram.size() < frame::overhead)
        return;
    QCOMPARE(frame::hasValidLength(datagram), length);
    QCOMPARE(frame::hasValidCrc(datagram), crc);
}

// 120 bytes of record data are two records; the last 20 bytes are not a record.
void TestFrame::spareBytesAfterLastRecordAreNotRead()
{
    const QByteArrayView data = frame::recordData(twoRecordsAndSpare);

    QCOMPARE(data.toByteArray(), twoRecordsAndSpareData);
    QCOMPARE(recordline::renderAll(data), exampleLine + QStringLiteral("\r\n") + lineOf(1235));
}

void TestFrame::endsTransfer_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("ends");

    QTest::newRow("1 of 1") << hex("F855CE 3A00 0208 0100 0100 3200") << true;
    QTest::newRow("1 of 3") << hex("F855CE 3A00 0208 0100 0300 3200") << false;
    QTest::newRow("3 of 3") << hex("F855CE 3A00 0208 0300 0300 3200") << true;
    QTest::newRow("0 of 0") << hex("F855CE 3A00 0208 0000 0000 3200") << true;
    QTest::newRow("256 of 1") << hex("F855CE 3A00 0208 0001 0100 3200") << false;
    QTest::newRow("513 of 258") << hex("F855CE 3A00 0208 0102 0201 3200") << false;
}

void TestFrame::endsTransfer()
{
    QFETCH(QByteArray, head);
    QFETCH(bool, ends);

    QCOMPARE(frame::endsTransfer(QByteArray(head + exampleRecord + hex("0000"))), ends);
}

void TestFrame::crcCheckValues_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<quint16>("crc");

    QTest::newRow("empty") << QByteArray() << quint16(0);
    QTest::newRow("single 41") << hex("41") << quint16(0x0041);
    QTest::newRow("123456789") << QByteArray("123456789") << quint16(0xBEEF);
    QTest::newRow("abc") << QByteArray("abc") << quint16(0x1EE4);
    QTest::newRow("worked example body") << example.mid(5, 58) << quint16(0xA39C);
}

void TestFrame::crcCheckValues()
{
    QFETCH(QByteArray, input);
    QFETCH(quint16, crc);

    QCOMPARE(frame::crc16(input), crc);
}

// The frame CRC is the plain remainder of the input, so for M = A + (b1 b2)
// it equals XMODEM(A) XOR b1b2.
void TestFrame::crcMatchesXmodemOracle()
{
    QCOMPARE(xmodem("123456789"), quint16(0x31C3)); // the oracle's own check value

    QRandomGenerator random(20111205);
    for (int round = 0; round < 2000; ++round) {
        QByteArray input(random.bounded(2, 300), Qt::Uninitialized);
        for (char &c : input)
            c = char(random.bounded(256));
        const qsizetype n = input.size();
        const quint16 tail = quint16(quint8(input[n - 2]) << 8 | quint8(input[n - 1]));
        const quint16 expected = xmodem(input.first(n - 2)) ^ tail;
        if (frame::crc16(input) != expected)
            QFAIL(qPrintable(QStringLiteral("round %1: crc16 of %2 bytes is %3, expected %4")
                                 .arg(round)
                                 .arg(n)
                                 .arg(frame::crc16(input), 4, 16, QLatin1Char('0'))
                                 .arg(expected, 4, 16, QLatin1Char('0'))));
    }
}

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
