// The text lines that the records of one datagram become, from records
// written out byte by byte.
#include "frames.h"
#include "reception/recordline.h"

#include <QTest>

using frames::hex;

namespace {

// The 36 bytes that carry fields: transactionNumber(4) unused(2) recordStatus(2)
// year month day hour minute second, groupNumber(4) scaleNumber(5)
// operatorNumber(1) plu(4) price(4) weight(4); then 14 unused zero bytes.
QByteArray record(const char *fields)
{
    return hex(fields) + QByteArray(14, '\0');
}

const QString crlf = QStringLiteral("\r\n");

} // namespace

class TestRecordLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void render_data();
    void render();
};

void TestRecordLine::render_data()
{
    QTest::addColumn<QByteArray>("recordData");
    QTest::addColumn<QString>("text");

    const QByteArray r1234 =
        record("D2040000 0000 0000 0B0C050E0309 02000000 0000000107 03 69000000 EE110000 E2040000");
    const QByteArray r1235 =
        record("D3040000 0000 0000 0B0C050E0309 02000000 0000000107 03 69000000 EE110000 E2040000");
    const QByteArray pluZero =
        record("D2040000 0000 0000 0B0C050E0309 02000000 0000000107 03 00000000 EE110000 E2040000");
    const QString line1234 = QStringLiteral("1234;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;");
    const QString line1235 = QStringLiteral("1235;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;");

    QTest::newRow("worked example") << r1234 << line1234;
    QTest::newRow("two records: CR LF between, none after")
        << r1234 + r1235 << line1234 + crlf + line1235;
    QTest::newRow("first record plu 0 skipped, no leading break") << pluZero + r1235 << line1235;
    QTest::newRow("last record plu 0 skipped, no trailing break") << r1234 + pluZero << line1234;
    QTest::newRow("all records plu 0") << pluZero + pluZero << QString();
    QTest::newRow("weight 9C FF FF FF")
        << record(
               "D2040000 0000 0000 0B0C050E0309 02000000 0000000107 03 69000000 EE110000 9CFFFFFF")
        << QStringLiteral("1234;0;5.12.2011 14:3:9;2;00017;3;105;4590;-100;");
    QTest::newRow("transactionNumber with bit 31 set")
        << record(
               "D2040080 0000 0000 0B0C050E0309 02000000 0000000107 03 69000000 EE110000 E2040000")
        << QStringLiteral("-2147482414;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;");
    QTest::newRow("status, group, plu and price negative")
        << record(
               "D2040000 0000 FFFF 0B0C050E0309 FEFFFFFF 0000000107 03 FDFFFFFF 00000080 E2040000")
        << QStringLiteral("1234;-1;5.12.2011 14:3:9;-2;00017;3;-3;-2147483648;1250;");
    QTest::newRow("operator byte C8")
        << record(
               "D2040000 0000 0000 0B0C050E0309 02000000 0000000107 C8 69000000 EE110000 E2040000")
        << QStringLiteral("1234;0;5.12.2011 14:3:9;2;00017;-56;105;4590;1250;");
    QTest::newRow("scale number bytes 01 17 00 FF 09")
        << record(
               "D2040000 0000 0000 0B0C050E0309 02000000 011700FF09 03 69000000 EE110000 E2040000")
        << QStringLiteral("1234;0;5.12.2011 14:3:9;2;12302559;3;105;4590;1250;");
    QTest::newRow("date bytes above 127 stay unsigned")
        << record(
               "D2040000 0000 0000 FF8081828384 02000000 0000000107 03 69000000 EE110000 E2040000")
        << QStringLiteral("1234;0;129.128.20255 130:131:132;2;00017;3;105;4590;1250;");
    QTest::newRow("year 7")
        << record(
               "D2040000 0000 0000 070C050E0309 02000000 0000000107 03 69000000 EE110000 E2040000")
        << QStringLiteral("1234;0;5.12.2007 14:3:9;2;00017;3;105;4590;1250;");
    QTest::newRow("1.2.2012 0:0:5")
        << record(
               "D2040000 0000 0000 0C0201000005 02000000 0000000107 03 69000000 EE110000 E2040000")
        << QStringLiteral("1234;0;1.2.2012 0:0:5;2;00017;3;105;4590;1250;");
    QTest::newRow("unused bytes 4-5 and 36-49 ignored")
        << hex("D2040000 FFFF 0000 0B0C050E0309 02000000 0000000107 03 69000000 EE110000 E2040000"
               "FFFFFFFFFFFFFFFFFFFFFFFFFFFF")
        << line1234;
    QTest::newRow("no record data") << QByteArray() << QString();
    QTest::newRow("49 bytes, shorter than a record") << r1234.left(49) << QString();
    QTest::newRow("partial record after a whole one") << r1234 + r1235.left(49) << line1234;
}

void TestRecordLine::render()
{
    QFETCH(QByteArray, recordData);
    QFETCH(QString, text);

    QCOMPARE(recordline::renderAll(recordData), text);
}

QTEST_GUILESS_MAIN(TestRecordLine)
#include "tst_recordline.moc"
