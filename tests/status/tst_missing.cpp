// What never arrived: sequences of packet numbers and of transaction
// numbers written out by hand, and what is told of them. Packets are filed
// as the data files number them (a transfer's last packet moves the number
// on).
#include "status/counting.h"
#include "status/dayscan.h"
#include "status/tally.h"
#include "status/transactions.h"
#include "status/transfers.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// "A1/3 A3/3": packet 1 of 3 from scale A, then packet 3 of 3. Told: "lost
// data_2.txt A 2 of 3" or "late data_2.txt A 2 of 3".
QStringList follow(status::Transfers &transfers, const QString &sequence)
{
    QStringList told;
    int fileNumber = 1;
    for (const QString &token : sequence.split(' ', Qt::SkipEmptyParts)) {
        const QStringList numbers = token.mid(1).split('/');
        const int number = numbers[0].toInt(), count = numbers[1].toInt();
        status::Transfers::Heard heard;
        transfers.packet(token[0].unicode(), number, count, fileNumber, heard);
        for (const auto &[what, losses] :
             {std::pair{"lost", heard.lost}, {"late", heard.arrived}}) {
            for (const auto &loss : losses)
                told << QString("%1 data_%2.txt %3 %4 of %5")
                            .arg(what)
                            .arg(loss.file)
                            .arg(token[0])
                            .arg(status::ranges(loss.packets))
                            .arg(loss.count);
        }
        if (number == count)
            ++fileNumber;
    }
    return told;
}

// "1 2 3 3= 9": transaction numbers of one scale, "=" the record before it
// sent again. Told: "gap 4–8", "late 5", "renumbered", "resent"; then the
// scale's missing ranges.
QString scale17(quint64 key)
{
    return key == 17 ? "00017" : "?";
}

QStringList number(status::Transactions &transactions, const QString &sequence)
{
    QStringList told;
    int record = 0; // each record a content of its own, but those marked "="
    for (const QString &token : sequence.split(' ', Qt::SkipEmptyParts)) {
        const qint64 n = QString(token).remove('=').toLongLong();
        record += token.endsWith('=') ? 0 : 1;
        const status::Transactions::Heard heard =
            transactions.record(17, n, QByteArray::number(record).leftJustified(50, ' '));
        const QString range =
            heard.numbers.first == heard.numbers.last
                ? QString::number(heard.numbers.first)
                : QString("%1-%2").arg(heard.numbers.first).arg(heard.numbers.last);
        const char *kinds[] = {"", "gap ", "late ", "renumbered", "resent"};
        if (heard.kind != status::Transactions::InOrder)
            told << kinds[heard.kind] + (heard.kind <= status::Transactions::Late ? range : "");
    }
    QStringList missing;
    for (const auto &r : transactions.missing(17))
        missing << QString("%1-%2").arg(r.first).arg(r.last);
    return told << "missing " + missing.join(',');
}

// "A0 B5 ?30 n30": scale A sends a record at minute 0, B at minute 5, the
// silent scales are looked for at minute 30, and when to look next is
// asked then. Told: "A since 0, others 1", "next 35" or "next none".
QString letter(quint64 key)
{
    return QString(QChar(char16_t(key)));
}

QStringList silence(int limitMinutes, const QString &sequence)
{
    constexpr qint64 minute = 60 * 1000;
    const qint64 t0 = QDateTime(QDate::currentDate(), QTime(8, 0)).toMSecsSinceEpoch();
    status::Tally tally(letter);
    tally.startDay("/data/2026.12.08");
    tally.setSilentLimit(limitMinutes * minute, 0);
    QStringList told;
    qint64 generation = 0;
    for (const QString &token : sequence.split(' ', Qt::SkipEmptyParts)) {
        const qint64 at = t0 + token.mid(1).toLongLong() * minute;
        if (token[0] == 'n') {
            const qint64 next = tally.nextSilence(at);
            told << (next == 0 ? "next none" : QString("next %1").arg((next - t0) / minute));
        } else if (token[0] == '?') {
            for (const status::Tally::Silent &s : tally.silentScales(at))
                told << QString("%1 since %2, others %3")
                            .arg(s.scale)
                            .arg((s.sinceMs - t0) / minute)
                            .arg(s.othersRecords);
        } else {
            tally.stage(token[0].unicode());
            tally.record(tally.take("/data/2026.12.08/data_1.txt", ++generation), at);
        }
    }
    return told;
}

} // namespace

class TestMissing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void packetsThatNeverArrived_data()
    {
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("whole transfers") << "A1/3 A2/3 A3/3 A1/1 A1/2 A2/2" << QStringList();
        QTest::newRow("a skipped packet")
            << "A1/3 A2/3 A3/3 A1/3 A3/3" << QStringList{"lost data_2.txt A 2 of 3"};
        QTest::newRow("the last packet lost: the next first packet ends it")
            << "A1/3 A2/3 A3/3 A1/3 A2/3 A1/3 A2/3 A3/3" << QStringList{"lost data_2.txt A 3 of 3"};
        QTest::newRow("a short transfer")
            << "A1/2 A2/2 A1/6 A5/6 A6/6" << QStringList{"lost data_2.txt A 2\u20134 of 6"};
        QTest::newRow("another count before the last packet")
            << "A1/1 A1/3 A2/3 A1/2 A2/2" << QStringList{"lost data_2.txt A 3 of 3"};
        QTest::newRow("a late packet takes its loss back")
            << "A1/3 A2/3 A3/3 A1/3 A3/3 A2/3"
            << QStringList{"lost data_2.txt A 2 of 3", "late data_2.txt A 2 of 3"};
        QTest::newRow("a late packet once only")
            << "A1/3 A2/3 A3/3 A1/3 A3/3 A2/3 A2/3"
            << QStringList{"lost data_2.txt A 2 of 3", "late data_2.txt A 2 of 3"};
        QTest::newRow("the first packet lost, then a whole transfer")
            << "A1/2 A2/2 A2/2 A1/2 A2/2" << QStringList{"lost data_2.txt A 1 of 2"};
        QTest::newRow("numbered from 0")
            << "A0/2 A1/2 A2/2 A0/2 A2/2" << QStringList{"lost data_2.txt A 1 of 2"};
        QTest::newRow("numbered from 0, a packet a transfer")
            << "A0/1 A1/1 A0/1 A0/1" << QStringList{"lost data_2.txt A 1 of 1"};
        QTest::newRow("nothing told before the numbering is learnt")
            << "A1/3 A3/3 A1/3 A3/3 A2/2" << QStringList();
        QTest::newRow("scales interleaved, each followed on its own")
            << "A1/1 B1/1 A1/3 B1/2 A2/3 B2/2 A3/3 A1/3 B1/2 A3/3"
            << QStringList{"lost data_5.txt A 2 of 3"};
        QTest::newRow("a long transfer names its first 64")
            << "A1/1 A1/100 A100/100" << QStringList{"lost data_2.txt A 2\u201365 of 100"};
        QTest::newRow("a stray packet 0 teaches nothing")
            << "A0/0 A1/2 A2/2 A1/2 A2/2" << QStringList();
        QTest::newRow("numbers beyond the count are no packets of it")
            << "A1/2 A2/2 A1/2 A7/2 A2/2" << QStringList();
    }
    void packetsThatNeverArrived()
    {
        QFETCH(QString, sequence);
        QFETCH(QStringList, told);
        status::Transfers transfers;
        QCOMPARE(follow(transfers, sequence), told);
    }

    // Each sender is followed on its own, and a flood of made-up scales
    // pushes out the scale heard from longest ago: it must learn its
    // numbering again before anything is told.
    void boundedUnderAFlood()
    {
        status::Transfers transfers;
        QCOMPARE(follow(transfers, "A1/1"), QStringList());
        status::Transfers::Heard heard;
        QVERIFY(!transfers.packet('A' | quint64(2) << 40, 2, 2, 9, heard)); // another sender
        for (int i = 0; i < 2 * status::Transfers::followedLimit; ++i)
            transfers.packet(1000 + i, 1, 1, 1, heard);
        QVERIFY(heard.lost.isEmpty());
        QCOMPARE(follow(transfers, "A2/2"), QStringList());
        QCOMPARE(follow(transfers, "A1/1 A2/2"), QStringList{"lost data_2.txt A 1 of 2"});
    }

    void transactionsThatNeverArrived_data()
    {
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("in order") << "1 2 3 4 5 6 7" << QStringList{"missing "};
        QTest::newRow("a gap after five in order")
            << "1 2 3 4 5 9 10" << QStringList{"gap 6-8", "missing 6-8"};
        QTest::newRow("a gap of one") << "1 2 3 4 5 7" << QStringList{"gap 6", "missing 6-6"};
        QTest::newRow("no gap before five in order") << "1 2 3 4 9 10" << QStringList{"missing "};
        QTest::newRow("late numbers fill the gap")
            << "1 2 3 4 5 10 7 6 9 8 11"
            << QStringList{"gap 6-9", "late 7", "late 6", "late 9", "late 8", "missing "};
        QTest::newRow("a late number splits its range")
            << "1 2 3 4 5 10 7" << QStringList{"gap 6-9", "late 7", "missing 6-6,8-9"};
        QTest::newRow("backwards is renumbering")
            << "5 6 7 8 9 1 2" << QStringList{"renumbered", "missing "};
        QTest::newRow("a jump of 1,000 is a gap")
            << "1 2 3 4 5 1005" << QStringList{"gap 6-1004", "missing 6-1004"};
        QTest::newRow("a jump of 1,001 is renumbering")
            << "1 2 3 4 5 1006" << QStringList{"renumbered", "missing "};
        QTest::newRow("the same record again is a resend")
            << "1 2 3 4 5 5= 6" << QStringList{"resent", "missing "};
        QTest::newRow("the same number with another record is renumbering")
            << "1 2 3 4 5 5" << QStringList{"renumbered", "missing "};
        QTest::newRow("never in order, never told")
            << "7 3 12 40 2 90 11" << QStringList{"missing "};
    }
    void transactionsThatNeverArrived()
    {
        QFETCH(QString, sequence);
        QFETCH(QStringList, told);
        status::Transactions transactions(scale17);
        QCOMPARE(number(transactions, sequence), told);
    }

    // After a restart, today's files tell each scale's last number, from
    // the highest-numbered file that holds it, whatever order the files are
    // read in; gaps inside the files are not told.
    void transactionsGoOnFromTodaysFiles()
    {
        const QByteArray header = "# Transaction number\r\n\r\n";
        status::DayCounts counts;
        QSet<QString> inFile;
        status::DayScan::countLines(
            QByteArray(header + "15;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"
                                "16;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"),
            2, 0, inFile, counts);
        inFile.clear();
        status::DayScan::countLines(QByteArray(header +
                                               "1;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"
                                               "4;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"
                                               "5;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"
                                               "6;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"
                                               "7;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"
                                               "8;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"),
                                    1, 0, inFile, counts);
        QCOMPARE(counts["00017"].lastTransaction, 16);
        QCOMPARE(counts["00017"].inOrder, 2);
        status::Transactions transactions(scale17);
        transactions.resume("00017", 16, 5);
        // The first record goes on from the files without a gap (records of
        // PLU 0 are in no file); the numbering in order is kept.
        QCOMPARE(number(transactions, "18 21"), QStringList({"gap 19-20", "missing 19-20"}));
        transactions.resume("00017", 100, 5); // heard from since: what it says holds
        QCOMPARE(number(transactions, "22"), QStringList{"missing 19-20"});
    }

    // Late numbers at every other place split a gap: the list keeps the
    // newest ranges, the count all that never came.
    void missingRangesStayBounded()
    {
        status::Transactions transactions(scale17);
        QString sequence = "1 2 3 4 5 200";
        for (int n = 10; n < 200; n += 2)
            sequence += ' ' + QString::number(n);
        number(transactions, sequence);
        QCOMPARE(transactions.missing(17).size(), status::Transactions::rangesKept);
        QCOMPARE(transactions.missingCount(17), 194 - 95);

        // Gaps one after another, each after five in order: the newest kept.
        status::Transactions gaps(scale17);
        QString skips;
        int n = 1;
        for (int gap = 0; gap < 20; ++gap, ++n) {
            for (int k = 0; k < 5; ++k)
                skips += QString::number(n++) + ' ';
        }
        number(gaps, skips + QString::number(n));
        QCOMPARE(gaps.missing(17).size(), status::Transactions::rangesKept);
        QCOMPARE(gaps.missing(17).last().first, n - 1);
        QCOMPARE(gaps.missingCount(17), 20);
    }

    // The median of the last 20 records: one record far off moves nothing.
    void scaleClock()
    {
        status::Transactions transactions(scale17);
        qint64 behind = 0;
        QVERIFY(!transactions.clockBehind(17, &behind));
        for (int i = 0; i < 30; ++i)
            transactions.record(17, i, QByteArray(50, char(i)), i == 29 ? -86400 : 7980 + i);
        QVERIFY(transactions.clockBehind(17, &behind));
        QCOMPARE(behind, 7999); // of 7990..8008 and one a day ahead
    }

    void silentScales_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("silentWhileAnotherSends")
            << 30 << "A0 B5 B10 B20 n20 ?29 ?30 ?31 n31"
            << QStringList{"next 30", "A since 0, others 3", "next 50"};
        QTest::newRow("toldOnceUntilItSendsAgain")
            << 30 << "A0 B10 B20 ?30 A35 B40 B50 B60 ?64 ?65"
            << QStringList{"A since 0, others 2", "A since 35, others 3"};
        QTest::newRow("allSilentTogether")
            << 30 << "A0 B0 ?30 n30 ?45 ?60" << QStringList{"next none"};
        // After a break the silence counts from the first record again: a
        // scale slow to start is not cut off at once.
        QTest::newRow("afterABreak") << 30 << "A0 B0 B60 n60 ?61 B85 ?89 ?90"
                                     << QStringList{"next 90", "A since 0, others 3"};
        QTest::newRow("twoSilentOneSends")
            << 30 << "A0 B0 C0 C20 C40 ?41"
            << QStringList{"A since 0, others 4", "B since 0, others 3"};
        QTest::newRow("never") << 0 << "A0 B10 B40 ?45 n45" << QStringList{"next none"};
    }

    void silentScales()
    {
        QFETCH(int, limit);
        QFETCH(QString, sequence);
        QFETCH(QStringList, told);
        QCOMPARE(silence(limit, sequence), told);
    }

    // After a scale is said silent, the next silence is waited for again: a
    // second scale that stops later is said without another arrival to wake
    // the count. A second stands for the minutes; the gaps are what is
    // tested, so they are waited out.
    void silenceWatchedAfterASilentScale()
    {
        QTemporaryDir day;
        Counting counting(letter);
        QStringList said;
        connect(&counting, &Counting::scaleSilent,
                [&said](const status::Tally::Silent &s) { said << s.scale; });
        counting.dayFolder(day.path(), true);
        counting.setSilentLimit(std::chrono::seconds(1));
        qint64 generation = 0;
        for (const char *scales : {"ABC", "BC", "C"}) {
            for (const char *scale = scales; *scale; ++scale)
                counting.stage(quint64(*scale));
            counting.stored(day.filePath("data_1.txt"), ++generation, -1);
            counting.batchEnded();
            counting.synced({});
            QTest::qWait(300);
        }
        // A at 1 s, B at 1.3 s; C last, when all are silent, is not said.
        QTRY_COMPARE(said, QStringList({"A", "B"}));
    }

    // Records count under the hour they arrived, or, read from the day's
    // files, the hour their file was last written.
    void recordsPerHour()
    {
        const auto at = [](int h, int m) {
            return QDateTime(QDate::currentDate(), QTime(h, m)).toMSecsSinceEpoch();
        };
        status::DayCounts counts;
        QSet<QString> inFile;
        status::DayScan::countLines("1;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"
                                    "2;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n",
                                    1, at(7, 59), inFile, counts);
        status::Tally tally(letter);
        tally.startDay("/d");
        tally.addCounted(counts);
        for (const qint64 t : {at(9, 0), at(9, 59), at(11, 30)}) {
            tally.stage('A');
            tally.record(tally.take("/d/data_2.txt", 1), t);
        }
        tally.stage('A');
        tally.record(tally.take("/yesterday/data_9.txt", 2), at(10, 0)); // not today's
        status::Hours a = {}, counted = {};
        a[9] = 2;
        a[11] = 1;
        counted[7] = 2;
        const QList<status::ScaleRow> rows = tally.snapshot().scales;
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].scale, "00017");
        QVERIFY(rows[0].hours == counted);
        QVERIFY(rows[1].hours == a);
    }

    void ranges()
    {
        QCOMPARE(status::ranges({}), QString());
        QCOMPARE(status::ranges({7, 2, 4, 5, 6, 9}), QString("2, 4\u20137, 9"));
    }
};

QTEST_GUILESS_MAIN(TestMissing)
#include "tst_missing.moc"
