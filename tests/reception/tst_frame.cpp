// The acceptance checks of the On-Line frame, its CRC16 and the text lines
// its records become, against bytes written out by hand.
#include "datagrams.h"
#include "reception/frame.h"
#include "reception/recordline.h"

#include <QTest>

namespace {

// Each fails exactly one acceptance check; the CRC is right unless named.
const QByteArray size64 = packet("F855CE 3900 0208 0100 0100 3100", exampleRecord.left(49), "EDCA");
const QByteArray subtype09 = packet("F855CE 3A00 0209 0100 0100 3200", exampleRecord, "A986");
const QByteArray bodyLengthPlusOne =
    packet("F855CE 3B00 0208 0100 0100 3200", exampleRecord, "9CA3");

// The 36 bytes that carry fields: transactionNumber(4) unused(2) recordStatus(2)
// year month day hour minute second, groupNumber(4) scaleNumber(5)
// operatorNumber(1) plu(4) price(4) weight(4); then 14 unused zero bytes.
QByteArray record(const char *fields)
{
    return hex(fields) + QByteArray(14, '\0');
}

} // namespace

class TestFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checks_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QList<bool>>("passes"); // prefix, length, CRC

        QTest::newRow("worked example") << example << QList<bool>{true, true, true};
        QTest::newRow("64 bytes") << size64 << QList<bool>{false, true, true};
        QTest::newRow("header bytes swapped") << headerSwapped << QList<bool>{false, true, true};
        QTest::newRow("subtype 09") << subtype09 << QList<bool>{false, true, true};
        QTest::newRow("bodyLength one too many")
            << bodyLengthPlusOne << QList<bool>{true, false, true};
        QTest::newRow("wrong CRC") << wrongCrc << QList<bool>{true, true, false};
        QTest::newRow("CRC stored high byte first")
            << packet("F855CE 3A00 0208 0100 0100 3200", exampleRecord, "A39C")
            << QList<bool>{true, true, false};
        // bodyLength 0x8000 equals recordDataLength + 8 only if the sum wraps.
        QTest::newRow("recordDataLength 32760")
            << packet("F855CE 0080 0208 0100 0100 F87F", exampleRecord, "C7FF")
            << QList<bool>{true, false, true};
        // Read as signed, -1 + 8 is 7: the check compares the fields only.
        QTest::newRow("recordDataLength -1, bodyLength 7")
            << packet("F855CE 0700 0208 0100 0100 FFFF", exampleRecord, "BE89")
            << QList<bool>{true, true, true};
    }
    void checks()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QList<bool>, passes);
        QCOMPARE(QList<bool>({frame::hasValidPrefix(datagram), frame::hasValidLength(datagram),
                              frame::hasValidCrc(datagram)}),
                 passes);
    }

    // 120 bytes of record data are two records; the last 20 bytes are not one.
    void recordDataWithSpareBytes()
    {
        const QByteArray records =
            exampleRecord + hex("D3040000") + exampleRecord.mid(4) + QByteArray(20, '\x11');
        const QByteArray datagram = packet("F855CE 8000 0208 0100 0100 7800", records, "68AA");
        QVERIFY(frame::hasValidPrefix(datagram) && frame::hasValidLength(datagram) &&
                frame::hasValidCrc(datagram));
        QCOMPARE(frame::recordData(datagram).toByteArray(), records);
        QCOMPARE(recordline::renderAll(frame::recordData(datagram)).toLatin1(),
                 lineOf(1234) + "\r\n" + lineOf(1235));
        QVERIFY(frame::endsTransfer(datagram)); // packet 1 of 1
        QVERIFY(!frame::endsTransfer(packet1of3));
    }

    // Check values: the plain remainder of the input, not CRC-16/XMODEM (0x31C3).
    void crcCheckValues()
    {
        QCOMPARE(frame::crc16(""), quint16(0));
        QCOMPARE(frame::crc16("A"), quint16(0x41));
        QCOMPARE(frame::crc16("123456789"), quint16(0xBEEF));
        QCOMPARE(frame::crc16("abc"), quint16(0x1EE4));
        QCOMPARE(frame::crc16(example.mid(5, 58)), quint16(0xA39C)); // the worked example's body
    }

    void recordLines_data()
    {
        QTest::addColumn<QByteArray>("recordData");
        QTest::addColumn<QByteArray>("text");

        const QByteArray r1234 = exampleRecord, r1235 = hex("D3040000") + exampleRecord.mid(4);
        const QByteArray plu0 = pluZero.mid(13, 50);
        QTest::newRow("two records: CR LF between, none after")
            << r1234 + r1235 << lineOf(1234) + "\r\n" + lineOf(1235);
        QTest::newRow("plu 0 first: no leading break") << plu0 + r1235 << lineOf(1235);
        QTest::newRow("plu 0 last: no trailing break") << r1234 + plu0 << lineOf(1234);
        QTest::newRow("all plu 0") << plu0 + plu0 << QByteArray();
        QTest::newRow("negative fields")
            << record("D2040080 0000 FFFF 0B0C050E0309 FEFFFFFF 0000000107 03 FDFFFFFF 00000080 "
                      "9CFFFFFF")
            << QByteArray("-2147482414;-1;5.12.2011 14:3:9;-2;00017;3;-3;-2147483648;-100;");
        QTest::newRow("operator byte C8")
            << record("D2040000 0000 0000 0B0C050E0309 02000000 0000000107 C8 69000000 EE110000 "
                      "E2040000")
            << QByteArray("1234;0;5.12.2011 14:3:9;2;00017;-56;105;4590;1250;");
        QTest::newRow("scale bytes 01 17 00 FF 09, unused bytes set")
            << hex("D2040000 FFFF 0000 0B0C050E0309 02000000 011700FF09 03 69000000 EE110000 "
                   "E2040000 FFFFFFFFFFFFFFFFFFFFFFFFFFFF")
            << QByteArray("1234;0;5.12.2011 14:3:9;2;12302559;3;105;4590;1250;");
        QTest::newRow("date bytes above 127 stay unsigned")
            << record("D2040000 0000 0000 FF8081828384 02000000 0000000107 03 69000000 EE110000 "
                      "E2040000")
            << QByteArray("1234;0;129.128.20255 130:131:132;2;00017;3;105;4590;1250;");
        QTest::newRow("year 7, time 0:0:5")
            << record("D2040000 0000 0000 070C05000005 02000000 0000000107 03 69000000 EE110000 "
                      "E2040000")
            << QByteArray("1234;0;5.12.2007 0:0:5;2;00017;3;105;4590;1250;");
    }
    void recordLines()
    {
        QFETCH(QByteArray, recordData);
        QFETCH(QByteArray, text);
        QCOMPARE(recordline::renderAll(recordData).toLatin1(), text);
    }
    // The scale's own date and time, as seconds since 1.1.1970 read as UTC
    // (worked out apart from the program), and its transaction number.
    void scaleSecondsAndTransaction()
    {
        QCOMPARE(recordline::scaleSeconds(exampleRecord), 1323093789); // 5.12.2011 14:03:09
        QCOMPARE(recordline::transactionNumber(exampleRecord), 1234);
        QCOMPARE(recordline::scaleSeconds(record("D2040000 0000 0000 00021D000000 02000000 "
                                                 "0000000107 03 69000000 EE110000 E2040000")),
                 951782400); // 29.2.2000 0:00:00
        QCOMPARE(recordline::scaleSeconds(record("FFFFFFFF 0000 0000 630C1F173B3B 02000000 "
                                                 "0000000107 03 69000000 EE110000 E2040000")),
                 4102444799); // 31.12.2099 23:59:59
        QCOMPARE(recordline::transactionNumber(record("FFFFFFFF 0000 0000 630C1F173B3B 02000000 "
                                                      "0000000107 03 69000000 EE110000 E2040000")),
                 -1);
    }
    // The balloon's second line: zero-padded, two blanks, 24-hour clock.
    void arrivalTime()
    {
        QCOMPARE(recordline::arrivalTime(QDateTime(QDate(2026, 12, 6), QTime(14, 3, 9))),
                 QStringLiteral("06.12.2026  14:03:09"));
        QCOMPARE(recordline::arrivalTime(QDateTime(QDate(2027, 1, 31), QTime(23, 59, 0))),
                 QStringLiteral("31.01.2027  23:59:00"));
    }
};

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
