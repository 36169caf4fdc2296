// A day that adds up: the figures of a day folder written by hand, and the
// bytes a spreadsheet is given, written out by hand too.
#include "datagrams.h"
#include "i18n/strings.h"
#include "status/dayreport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestDay : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString day;

private Q_SLOTS:
    // Two transfers of scale 00017 with two numbers not filed between them
    // and one numbering anew, a record of 00003, a line cut short by a full
    // disk, one damaged; a file named as the program never names one is not
    // the day's.
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        day = dir.filePath("08.12.2026");
        QVERIFY(QDir().mkdir(day));
        write(day + "/data_1.txt", englishHeader +
                                       "1234;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"
                                       "1235;0;5.12.2011 14:4:0;2;00017;3;105;4590;750;\r\n"
                                       "77;0;5.12.2011 14:4:1;1;00003;1;200;1000;2000;\r\n");
        write(day + "/data_2.txt", englishHeader +
                                       "1238;0;5.12.2011 14:9:0;2;00017;3;105;4800;500;\r\n"
                                       "1239;0;5.12.2011 14:9:1;2;00017;3;1x5;4800;500;\r\n"
                                       "1;0;5.12.2011 14:9:5;2;00017;3;7;100;10;\r\n"
                                       "12;0;5.12.2011 14:1");
        write(day + "/data_007.txt", "9;0;5.12.2011 14:3:9;2;00099;3;105;4590;1250;\r\n");
    }

    void figuresOfTheDay()
    {
        const status::DayReport report = status::readDay(day);
        QVERIFY(report.found);
        QCOMPARE(report.files, 2);
        QCOMPARE(report.records, 5);
        QCOMPARE(report.scales.size(), 2);
        const status::ScaleDay &s3 = report.scales[0], &s17 = report.scales[1];
        QCOMPARE(s3.scale, "00003");
        QCOMPARE((QList<qint64>{s3.records, s3.firstTransaction, s3.lastTransaction, s3.notFiled,
                                s3.weightSum}),
                 (QList<qint64>{1, 77, 77, 0, 2000}));
        QCOMPARE(s17.scale, "00017");
        QCOMPARE((QList<qint64>{s17.records, s17.firstTransaction, s17.lastTransaction,
                                s17.notFiled, s17.weightSum}),
                 (QList<qint64>{4, 1234, 1, 2, 2510}));
        QList<QList<qint64>> plus;
        for (const status::PluDay &p : report.plus)
            plus << QList<qint64>{p.plu, p.records, p.weightSum, p.lowestPrice, p.highestPrice};
        QCOMPARE(plus, (QList<QList<qint64>>{{7, 1, 10, 100, 100},
                                             {105, 3, 2500, 4590, 4800},
                                             {200, 1, 2000, 1000, 1000}}));
        // A window reads it a file at a time: the same figures.
        status::DayReading reading;
        reading.start(day);
        QVERIFY(!reading.step(QDeadlineTimer(0)));
        QCOMPARE(reading.report.records, 3);
        QVERIFY(!reading.step(QDeadlineTimer(0)));
        QVERIFY(reading.step(QDeadlineTimer(0)));
        QVERIFY(!reading.running());
        QCOMPARE(reading.report.records, 5);
        QCOMPARE(reading.report.scales.size(), 2);
        QCOMPARE(reading.report.scales[1].notFiled, 2);
        const status::DayReport none = status::readDay(dir.filePath("07.12.2026"));
        QVERIFY(!none.found);
        QCOMPARE(none.records, 0);
        // A transfer sent again files its numbers out of order: 7 alone is missing.
        QTemporaryDir again;
        write(again.filePath("data_1.txt"),
              lineOf(5) + "\r\n" + lineOf(8) + "\r\n" + lineOf(6) + "\r\n");
        QCOMPARE(status::readDay(again.path()).scales.value(0).notFiled, 1);
        // A jump of a thousand is numbers not filed; one of 1,001 is the
        // scale numbering anew.
        write(again.filePath("data_1.txt"),
              lineOf(1) + "\r\n" + lineOf(1001) + "\r\n" + lineOf(2002) + "\r\n");
        QCOMPARE(status::readDay(again.path()).scales.value(0).notFiled, 999);
    }

    // Made-up scales and PLUs by the thousand: the first ones keep their
    // rows, the others share one.
    void boundedUnderAFlood()
    {
        QTemporaryDir flood;
        QByteArray text;
        for (int i = 0; i < 12000; ++i)
            text += QString("%1;0;5.12.2011 14:3:9;2;%2;3;%3;100;1;\r\n")
                        .arg(i)
                        .arg(i % 1500, 5, 10, QChar('0'))
                        .arg(i + 1)
                        .toLatin1();
        write(flood.filePath("data_1.txt"), text);
        const status::DayReport report = status::readDay(flood.path());
        QCOMPARE(report.records, 12000);
        QCOMPARE(report.scales.size(), status::dayScaleLimit + 1);
        QCOMPARE(report.scales.last().scale, "*");
        QCOMPARE(report.scales.last().records, 12000 - 8 * status::dayScaleLimit);
        QCOMPARE(report.plus.size(), status::dayPluLimit + 1);
        QCOMPARE(report.plus.first().plu, -1);
        QCOMPARE(report.plus.first().records, 12000 - status::dayPluLimit);
        QVERIFY(status::plusCsv(report, strings::english).contains("\r\n*;2000;2000;100;100\r\n"));
        QVERIFY(status::scalesCsv(report, strings::english)
                    .endsWith("\r\n*;4000;1000;11999;0;4000\r\n"));
    }

    void spreadsheetBytes()
    {
        QByteArray lines;
        const status::DayReport report = status::readDay(day, &lines);
        const QByteArray bom = QByteArray::fromHex("efbbbf");
        QCOMPARE(status::scalesCsv(report, strings::english),
                 bom + "Scale;Records;First transaction;Last transaction;Numbers not in the "
                       "files;Weight sum\r\n"
                       "=\"00003\";1;77;77;0;2000\r\n"
                       "=\"00017\";4;1234;1;2;2510\r\n");
        QCOMPARE(
            status::plusCsv(report, strings::russian),
            bom +
                QByteArray::fromHex("504c553b"                                 // PLU;
                                    "d097d0b0d0bfd0b8d181d0b5d0b93b"           // Записей;
                                    "d0a1d183d0bcd0bcd0b020d0b2d0b5d181d0b03b" // Сумма веса;
                                    "d09dd0b0d0b8d0bcd0b5d0bdd18cd188d0b0d18f20d186d0b5d0bdd0b03b"
                                    "d09dd0b0d0b8d0b1d0bed0bbd18cd188d0b0d18f20d186d0b5d0bdd0b0") +
                "\r\n7;1;10;100;100\r\n105;3;2500;4590;4800\r\n200;1;2000;1000;1000\r\n");
        // An export's figures are those of its records.
        QCOMPARE(status::scalesCsv(status::reportOf(lines), strings::english),
                 status::scalesCsv(report, strings::english));
        QCOMPARE(
            status::plusCsv(status::reportOf(lines.first(lines.size() - 42)), strings::english),
            bom + "PLU;Records;Weight sum;Lowest price;Highest price\r\n"
                  "105;3;2500;4590;4800\r\n200;1;2000;1000;1000\r\n");
        QCOMPARE(status::recordsCsv(lines, strings::english),
                 bom + "Transaction number;Record status;Date and time;Group number;Scale;"
                       "Operator number;PLU;Price;Weight\r\n"
                       "1234;0;5.12.2011 14:3:9;2;=\"00017\";3;105;4590;1250\r\n"
                       "1235;0;5.12.2011 14:4:0;2;=\"00017\";3;105;4590;750\r\n"
                       "77;0;5.12.2011 14:4:1;1;=\"00003\";1;200;1000;2000\r\n"
                       "1238;0;5.12.2011 14:9:0;2;=\"00017\";3;105;4800;500\r\n"
                       "1;0;5.12.2011 14:9:5;2;=\"00017\";3;7;100;10\r\n");
    }

    // The records in pages, as the service gives them to a window: every
    // record once, whatever the page's size, and nothing else.
    void recordsInPages_data()
    {
        QTest::addColumn<qsizetype>("most");
        QTest::newRow("a file a page") << qsizetype(1);
        QTest::newRow("one page") << qsizetype(1 << 20);
    }

    void recordsInPages()
    {
        QFETCH(qsizetype, most);
        QByteArray paged;
        status::DayCursor cursor;
        for (int page = 0; !cursor.done && page < 100; ++page)
            paged += status::readRecordPage(day, cursor, most);
        QVERIFY(cursor.done);
        QCOMPARE(paged, QByteArray("1234;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"
                                   "1235;0;5.12.2011 14:4:0;2;00017;3;105;4590;750;\r\n"
                                   "77;0;5.12.2011 14:4:1;1;00003;1;200;1000;2000;\r\n"
                                   "1238;0;5.12.2011 14:9:0;2;00017;3;105;4800;500;\r\n"
                                   "1;0;5.12.2011 14:9:5;2;00017;3;7;100;10;\r\n"));
    }

    // A line longer than a page is passed over whole, though its end alone
    // would read as a record, and so is the rest of a line a page ended in
    // (one written meanwhile); each page reads a bounded part of the files.
    void linesAcrossPages()
    {
        QTemporaryDir folder;
        const QByteArray record = "5;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n";
        write(folder.filePath("data_3.txt"), QByteArray(5000, 'x') + record + record);
        write(folder.filePath("data_4.txt"), record.left(20));
        QByteArrayList pages;
        status::DayCursor cursor;
        while (!cursor.done && pages.size() < 10)
            pages << status::readRecordPage(folder.path(), cursor, 10);
        QCOMPARE(pages, QByteArrayList({"", record, "", ""}));
        QCOMPARE(cursor.file, 4);
        QCOMPARE(cursor.offset, 20);
        // The rest of the last line, written since, is not a record of its own.
        QFile last(folder.filePath("data_4.txt"));
        QVERIFY(last.open(QIODevice::Append));
        last.write(record.mid(20) + record);
        last.close();
        cursor.done = false;
        QCOMPARE(status::readRecordPage(folder.path(), cursor, 10), record);
        status::DayCursor none;
        QCOMPARE(status::readRecordPage(folder.filePath("gone"), none, 10), QByteArray());
        QVERIFY(none.done);
    }

    // The figures another process is given: as read, within their bound
    // however long a forged scale's text, the rows past the limits cut.
    void figuresForAWindow()
    {
        status::DayReport report = status::readDay(day);
        status::DayReport read;
        QVERIFY(status::deserializeDay(status::serializeDay(report), &read));
        QCOMPARE(read.records, 5);
        QCOMPARE(read.files, 2);
        QVERIFY(read.found);
        QCOMPARE(read.scales.size(), 2);
        QCOMPARE(read.scales[1].scale, "00017");
        QCOMPARE(read.scales[1].lastTransaction, 1);
        QCOMPARE(read.scales[1].notFiled, 2);
        QCOMPARE(read.scales[1].weightSum, 2510);
        QCOMPARE(read.plus.size(), 3);
        QCOMPARE(read.plus[1].highestPrice, 4800);
        QCOMPARE(read.plus[1].lowestPrice, 4590);

        status::DayReport huge;
        huge.closedFolder = "C:\\data";
        huge.scales.fill({QString(1000, '9'), 1, 2, 3, 4, 5}, status::dayScaleLimit + 5);
        huge.plus.fill({-1, LLONG_MAX, LLONG_MIN, LLONG_MAX, LLONG_MIN}, status::dayPluLimit + 5);
        const QByteArray bytes = status::serializeDay(huge);
        QVERIFY(bytes.size() <= status::largestDay);
        QVERIFY(status::deserializeDay(bytes, &read));
        QCOMPARE(read.closedFolder, "C:\\data");
        QCOMPARE(read.scales.size(), status::dayScaleLimit + 1);
        QCOMPARE(read.scales[0].scale, QString(32, '9')); // a scale's text cut to 32
        QCOMPARE(read.plus.size(), status::dayPluLimit + 1);
        QCOMPARE(read.plus[0].weightSum, LLONG_MIN);
        QVERIFY(!status::deserializeDay(bytes.first(bytes.size() - 1), &read));
        QVERIFY(!status::deserializeDay(QByteArray::fromHex("8101"), &read)); // [1]
        // [layout 1, not found, no closed folder, 0 files, 0 records, [], []]
        QCOMPARE(status::serializeDay({}), QByteArray::fromHex("8701f4600000"
                                                               "8080"));
    }
};

QTEST_GUILESS_MAIN(TestDay)
#include "tst_day.moc"
