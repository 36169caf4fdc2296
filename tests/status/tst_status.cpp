// The status window as the user reads it: the reception figures, today's
// scales (counted again from the day folder at start), the senders with why
// their datagrams were not taken, the latest events, the allowed senders;
// the tool tip's last results; the allow list as typed.
#include "datagrams.h"
#include "fixture.h"
#include "i18n/strings.h"
#include "reception/recordline.h"
#include "status/allowlist.h"
#include "status/dayscan.h"
#include "status/snapshot.h"
#include "status/statuswindow.h"
#include "status/tally.h"

#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

namespace {

QAction *command(Fixture &f, int index)
{
    return f.trayMenu()->actions().value(index);
}

// The status window, opened from the tray menu, with figures as they are now.
QWidget *statusWindow(Fixture &f)
{
    f.command("status");
    QWidget *window = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        window = w->objectName() == "status" ? w : window;
    window->hide(); // shown again: it reads the figures at once
    window->show();
    return window;
}

QString value(QWidget *window, const char *name)
{
    return window->findChild<QLabel *>(name)->text();
}

// The scales' strip of hours depends on the hour the test runs at: it is
// left out here and looked at on its own.
constexpr int hoursColumn = 2;

QStringList rows(QWidget *window, const char *table)
{
    QStringList rows;
    auto *tree = window->findChild<QTreeWidget *>(table);
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < tree->columnCount(); ++c) {
            if (c != hoursColumn || qstrcmp(table, "scales") != 0)
                cells << tree->topLevelItem(i)->text(c);
        }
        rows << cells.join('|');
    }
    return rows;
}

// The rows with a time of the last few seconds in `column` written as "now",
// and a scale's clock years behind (the example's record is of 2011) as
// "clock behind".
QStringList timesNow(QStringList rows, int column)
{
    rows.replaceInStrings(QRegularExpression("clock \\d+ h \\d+ min behind"), "clock behind");
    for (QString &row : rows) {
        QStringList cells = row.split('|');
        const QTime time = QTime::fromString(cells.value(column), "hh:mm:ss");
        if (time.isValid() && qAbs(time.secsTo(QTime::currentTime())) <= 5)
            cells[column] = "now";
        row = cells.join('|');
    }
    return rows;
}

QString lineOfScale(int n, const char *scale)
{
    return QString("%1;0;5.12.2011 14:3:9;2;%2;3;105;4590;1250;\r\n").arg(n).arg(scale);
}

void writeFile(const QString &path, const QByteArray &content, const QTime &modified = {})
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.flush();
    if (modified.isValid())
        file.setFileTime(QDateTime(QDate::currentDate(), modified),
                         QFileDevice::FileModificationTime);
}

// A second sender. Wine passes a datagram sent from 127.0.0.2 on as if it
// came from 127.0.0.1, so under wine the second sender is IPv6's loopback.
#ifdef Q_OS_WIN
const QHostAddress second("::1");
#else
const QHostAddress second("127.0.0.2");
#endif

} // namespace

class TestStatus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void allowList_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("badEntry");
        QTest::addColumn<QStringList>("allowed");
        QTest::addColumn<QStringList>("refused");
        QTest::newRow("empty: any sender") << " "
                                           << "" << QStringList{"10.0.0.1", "::1"} << QStringList{};
        QTest::newRow("one address, also as IPv4 on a dual-stack socket")
            << "127.0.0.1"
            << "" << QStringList{"127.0.0.1", "::ffff:127.0.0.1"}
            << QStringList{"127.0.0.2", "::1"};
        QTest::newRow("subnet and address, commas and blanks")
            << "192.168.1.0/24,, 10.0.0.5"
            << "" << QStringList{"192.168.1.77", "::ffff:10.0.0.5"}
            << QStringList{"192.168.2.1", "10.0.0.6"};
        QTest::newRow("every IPv4 sender")
            << "0.0.0.0/0"
            << "" << QStringList{"203.0.113.7", "::ffff:10.0.0.1"} << QStringList{"fd00::1"};
        QTest::newRow("IPv6") << "fd00::/8 ::1"
                              << "" << QStringList{"fd12::3", "::1"}
                              << QStringList{"fe80::1", "127.0.0.1"};
        QTest::newRow("shorthand IPv4") << "127.0.0.1 10.1"
                                        << "10.1" << QStringList{} << QStringList{};
        QTest::newRow("prefix too long") << "192.168.1.0/33"
                                         << "192.168.1.0/33" << QStringList{} << QStringList{};
        QTest::newRow("a name") << "localhost"
                                << "localhost" << QStringList{} << QStringList{};
        QTest::newRow("IPv6 prefix too long") << "::1/129"
                                              << "::1/129" << QStringList{} << QStringList{};
    }
    void allowList()
    {
        QFETCH(QString, text);
        QFETCH(QString, badEntry);
        QFETCH(QStringList, allowed);
        QFETCH(QStringList, refused);
        AllowList list;
        list.parse("127.0.0.9"); // what a bad text leaves in place
        QString bad;
        QCOMPARE(list.parse(text, &bad), badEntry.isEmpty());
        QCOMPARE(bad, badEntry);
        if (!badEntry.isEmpty())
            allowed = QStringList{"127.0.0.9"};
        for (const QString &a : allowed)
            QVERIFY2(list.allows(QHostAddress(a)), qPrintable(a));
        for (const QString &r : refused)
            QVERIFY2(!list.allows(QHostAddress(r)), qPrintable(r));
    }

    // Today's files are counted again at start, so the figures survive a
    // restart; only files named as the program names them count. The tool
    // tip says the last results and the records of today.
    void scalesCountedFromTheDayFolder()
    {
        Fixture f;
        writeFile(f.file("data_1.txt"),
                  englishHeader +
                      (lineOfScale(1, "00017") + lineOfScale(2, "00017") + lineOfScale(3, "00003"))
                          .toLatin1(),
                  QTime(9, 0));
        writeFile(f.file("data_2.txt"), englishHeader + lineOfScale(4, "00017").toLatin1(),
                  QTime(9, 30));
        writeFile(f.file("data_3.txt"), englishHeader, QTime(10, 0));
        writeFile(f.file("data_007.txt"), englishHeader + lineOfScale(5, "00099").toLatin1());
        f.start();
        QWidget *window = statusWindow(f);
        QTRY_COMPARE(rows(window, "scales"),
                     QStringList({"00003|1|1|0||||09:00:00|", "00017|3|2|0||||09:30:00|"}));
        QTRY_COMPARE(f.probe->trayIcon()->toolTip(),
                     QString("Scalvanto\nLast results 09:30:00, 4 records today"));

        f.send({example});
        QTRY_COMPARE(timesNow(rows(statusWindow(f), "scales"), 7).value(1),
                     QString("00017|4|3|0||clock behind||now|127.0.0.1"));
        QTRY_VERIFY(f.probe->trayIcon()->toolTip().endsWith(", 5 records today"));
        const QString tip = f.probe->trayIcon()->toolTip();
        QCOMPARE(timesNow({tip.mid(tip.indexOf(':') - 2, 8)}, 0), QStringList{"now"});

        // A record of PLU 0 is no weighing: it is not counted. The example
        // again, the same transaction with the same content, is a resend.
        f.send({exampleAndPluZero});
        QTRY_COMPARE(timesNow(rows(statusWindow(f), "scales"), 7).value(1),
                     QString("00017|5|4|0|resent: 1|clock behind||now|127.0.0.1"));
        QTRY_VERIFY(f.probe->trayIcon()->toolTip().endsWith(", 6 records today"));
    }

    // A data file the program opens while today's folder is being counted
    // is counted as it is written, not again by the count of the folder.
    void ownFileNotCountedTwice()
    {
        Fixture f;
        writeFile(f.file("data_1.txt"), englishHeader + lineOfScale(1, "00017").toLatin1());
        writeFile(f.file("data_2.txt"), englishHeader + lineOfScale(2, "00017").toLatin1());
        f.start();
        Q_EMIT f.probe->filing().fileOpened(QDir::toNativeSeparators(f.today()), 2);
        QTRY_VERIFY(!f.probe->receiver().statusSnapshot().countingFiles);
        QCOMPARE(f.probe->receiver().recordsToday(), 1);
    }

    // Another data folder whose today's folder holds files numbered past
    // the program's counter: every one of them is counted.
    void everyFileOfANewDataFolderCounted()
    {
        Fixture f;
        f.send({packet1of3, packet2of3, packet3of3, example, example}); // numbers 1 to 3 taken
        QTRY_VERIFY(f.probe->trayIcon()->toolTip().endsWith(", 5 records today"));
        const QString other = f.path("other/" + QDate::currentDate().toString("dd.MM.yyyy"));
        QVERIFY(QDir().mkpath(other));
        for (int n = 1; n <= 10; ++n)
            writeFile(other + QString("/data_%1.txt").arg(n),
                      englishHeader + lineOfScale(n, "00099").toLatin1(), QTime(8, 0));
        f.probe->setFilePath(QDir::toNativeSeparators(f.path("other")));
        QTRY_COMPARE(rows(statusWindow(f), "scales"), QStringList{"00099|10|10|0||||08:00:00|"});
    }

    // A flood of records of made-up scales, one datagram carrying 1,309 of
    // them, after a few real scales have sent: the table stays within its
    // limit, the real scales keep their rows, the others are counted
    // together, and the status stays within what may be sent of it.
    void scaleTableHoldsUnderAFlood()
    {
        const auto recordOf = [](quint32 scale) {
            QByteArray record = exampleRecord;
            for (int i = 0; i < 4; ++i)
                record[19 + i] = char(scale >> (8 * (3 - i)));
            return record;
        };
        status::Tally tally(recordline::scaleText);
        tally.startDay("day");
        const QHostAddress sender("10.0.0.5");
        qint64 generation = 0;
        const auto arrive = [&](const QByteArray &recordData) {
            tally.received(sender, 1000);
            for (qsizetype k = 0; k < recordData.size(); k += 50)
                tally.stage(recordline::scaleKey(QByteArrayView(recordData).sliced(k, 50)));
            tally.record(tally.take("day/data_1.txt", ++generation), 1000);
        };
        arrive(recordOf(0x0108));              // 0 0 0 1 8: 00018
        arrive(exampleRecord + exampleRecord); // 00017 twice, first once the table is cut
        quint32 forged = 0x01000000;
        for (int datagram = 0; datagram < 300; ++datagram) {
            QByteArray records;
            for (int i = 0; i < 1309; ++i)
                records += recordOf(forged++);
            arrive(records);
        }
        const status::Snapshot s = tally.snapshot();
        QVERIFY(s.scales.size() <= status::Tally::scaleLimit + 1);
        QStringList names;
        qint64 records = 0;
        for (const status::ScaleRow &row : s.scales) {
            names << row.scale;
            records += row.records;
        }
        QVERIFY(names.contains("00017") && names.contains("00018"));
        QCOMPARE(names.last(), status::othersScale);
        QCOMPARE(records, 3 + 300 * 1309);
        QCOMPARE(s.events.first().scales.size(), status::Tally::scalesPerEvent + 1);
        QCOMPARE(s.events.first().scales.last(), QString("+1304"));
        // A real scale whose row moved when the table was cut still counts
        // in its own row.
        arrive(recordOf(0x0108));
        for (const status::ScaleRow &row : tally.snapshot().scales) {
            if (row.scale == "00017" || row.scale == "00018")
                QCOMPARE(row.records, 2);
        }

        status::Snapshot big = s;
        big.allowedSenders = QString(3 * 1024 * 1024, 'x'); // typed into the store by hand
        const QByteArray bytes = status::serialize(big, 1024 * 1024);
        status::Snapshot back;
        QVERIFY(bytes.size() <= 1024 * 1024);
        QVERIFY(status::deserialize(bytes, &back));
        QCOMPARE(back.scales.size(), s.scales.size());
    }

    // Made-up sender addresses beyond the table's limit share one row, "*",
    // which still follows the allowed senders; the senders met first keep
    // theirs.
    void senderTableHoldsUnderAFlood()
    {
        status::Tally tally(recordline::scaleText);
        AllowList list;
        QVERIFY(list.parse("10.0.0.0/8"));
        tally.setAllowList(list);
        for (quint32 i = 0; i < status::Tally::senderLimit + 500; ++i) {
            QVERIFY(tally.received(QHostAddress(0x0A000000 + i), 1000));
            tally.accepted();
        }
        QVERIFY(!tally.received(QHostAddress("192.168.1.1"), 1000));
        const QList<status::SenderRow> rows = tally.snapshot().senders;
        QCOMPARE(rows.size(), status::Tally::senderLimit + 1);
        QCOMPARE(rows[status::Tally::senderLimit - 1].address, QString("10.0.3.231"));
        QCOMPARE(rows[status::Tally::senderLimit - 1].accepted, 1);
        QCOMPARE(rows.last().address, QString("*"));
        QCOMPARE(rows.last().accepted, 500);
        QCOMPARE(rows.last().rejected[status::NotAllowed], 1);
        // So does the service's window, given the table as bytes.
        status::Snapshot back;
        QVERIFY(status::deserialize(status::serialize(tally.snapshot(), 1024 * 1024), &back));
        QCOMPARE(back.senders.size(), rows.size());
        QCOMPARE(back.senders.last().rejected[status::NotAllowed], 1);
        QCOMPARE(back.senders.last().accepted, 500);
    }

    // The figures as the service's window is given them: every field of a
    // scale's row in its place; when they must be cut, the events go after
    // the senders while they are few.
    void snapshotForAWindow()
    {
        const QDateTime t(QDate(2026, 12, 8), QTime(9, 30, 1));
        status::ScaleRow row{"00017", 2,  3,  t,  {"10.0.0.5"}, 5, "7–9", 11,
                             true,    13, 17, {}, t.addSecs(60)};
        row.hours[9] = 19;
        status::Snapshot s;
        s.recordsToday = 23;
        s.lastArrival = t.addSecs(120);
        s.scales = {row};
        for (int i = 0; i < 10; ++i)
            s.events << status::Event{t, {}, "data_1.txt", i, {}};
        s.senders.resize(20);
        for (int i = 0; i < 20; ++i)
            s.senders[i].address = QString("10.0.0.%1").arg(i);
        status::Snapshot back;
        QVERIFY(status::deserialize(status::serialize(s), &back));
        const status::ScaleRow r = back.scales.value(0);
        QCOMPARE((QList<qint64>{r.records, r.transfers, r.lostPackets, r.resent, r.clockKnown,
                                r.clockBehindS, r.missingCount, r.hours[9]}),
                 (QList<qint64>{2, 3, 5, 11, 1, 13, 17, 19}));
        QCOMPARE((QStringList{r.scale, r.senders.join(','), r.missing}),
                 (QStringList{"00017", "10.0.0.5", "7–9"}));
        QCOMPARE(r.lastRecord, t);
        QCOMPARE(r.silentSince, t.addSecs(60));
        QCOMPARE(back.recordsToday, 23);
        QCOMPARE(back.lastArrival, t.addSecs(120));
        QVERIFY(status::deserialize(status::serialize(s, status::serialize(s).size() - 1), &back));
        QCOMPARE(back.events.size(), 10);
        QCOMPARE(back.senders.size(), 10);
    }

    // Each day has a table of its own: a scale that sent the day before gets
    // a row of its own again.
    void aNewDayHasATableOfItsOwn()
    {
        status::Tally tally(recordline::scaleText);
        const auto arrive = [&tally](const QString &day, const QByteArray &record, qint64 file) {
            tally.received(QHostAddress("10.0.0.5"), 1000);
            tally.stage(recordline::scaleKey(record));
            tally.record(tally.take(day + "/data_1.txt", file), 1000);
        };
        QByteArray scale18 = exampleRecord;
        scale18.replace(19, 4, QByteArray::fromHex("00000108"));
        tally.startDay("07.12.2026");
        arrive("07.12.2026", scale18, 1);
        tally.startDay("08.12.2026");
        arrive("08.12.2026", exampleRecord, 2);
        arrive("08.12.2026", scale18, 3);
        const status::Snapshot s = tally.snapshot();
        QCOMPARE(s.scales.size(), 2);
        for (const status::ScaleRow &row : s.scales)
            QCOMPARE(row.scale + ' ' + QString::number(row.records), row.scale + " 1");
    }

    // A transfer begun before midnight goes on in the day before's folder:
    // its records are stored, and shown among the events, but are not today's.
    void recordsOfTheDayBeforeAreNotToday()
    {
        status::Tally tally(recordline::scaleText);
        tally.startDay(QDir::toNativeSeparators("data/08.12.2026"));
        tally.received(QHostAddress("10.0.0.5"), 1000);
        tally.stage(recordline::scaleKey(exampleRecord));
        tally.record(tally.take(QDir::toNativeSeparators("data/07.12.2026/data_3.txt"), 1), 1000);
        tally.stage(recordline::scaleKey(exampleRecord));
        tally.record(tally.take(QDir::toNativeSeparators("data/08.12.2026/data_1.txt"), 2), 1000);
        const status::Snapshot s = tally.snapshot();
        QCOMPARE(s.recordsToday, 1);
        QCOMPARE(s.reception.stored, 2);
        QCOMPARE(s.scales.size(), 1);
        QCOMPARE(s.scales[0].records, 1);
        QCOMPARE(s.events.size(), 2);
    }

    // The files of a day are read in pieces, a line cut between two pieces
    // counted once; a day naming thousands of scales keeps the busiest.
    void dayScanInPieces()
    {
        QTemporaryDir day;
        QByteArray lines;
        for (int n = 1; n <= 20000; ++n)
            lines += lineOfScale(n, "00017").toLatin1();
        QVERIFY(lines.size() > 3 * status::DayScan::pieceBytes);
        writeFile(day.filePath("data_1.txt"), englishHeader + lines);
        QByteArray many;
        for (int n = 1; n <= 3000; ++n)
            many += lineOfScale(n, qPrintable(QString("9%1").arg(n, 4, 10, QChar('0')))).toLatin1();
        writeFile(day.filePath("data_2.txt"), englishHeader + many, QTime(0, 30));
        status::DayScan scan;
        scan.start(day.path());
        while (!scan.step(QDeadlineTimer(50)))
            ;
        const status::DayCounts &counts = scan.counts();
        QCOMPARE(counts.value("00017").records, 20000);
        QCOMPARE(counts.value("00017").transfers, 1);
        QCOMPARE(counts.size(), status::Tally::scaleLimit + 1);
        QCOMPARE(counts.value(status::othersScale).records, 3000 - (status::Tally::scaleLimit - 1));
        // Their records stay under the hour their file was written.
        QCOMPARE(counts.value(status::othersScale).hours[0],
                 3000 - (status::Tally::scaleLimit - 1));
    }

    // Each kind of datagram that is not taken counted under its sender; a
    // sender that is not allowed gets nothing written, not even a dump.
    void sendersAndWhyTheirDatagramsWereNotTaken()
    {
        Fixture f({{"AllowedSenders", "127.0.0.1"}, {"Debug", true}});
        const QByteArray wrongType =
            hex("F855CE 3A00 0308 0100 0100 3200") + exampleRecord + hex("9CA3");
        const QByteArray wrongLength =
            hex("F855CE 3B00 0208 0100 0100 3200") + exampleRecord + hex("9CA3");
        f.send({headerSwapped, example.left(64), wrongType, wrongLength, wrongCrc, example});
        QTRY_COMPARE(readFile(f.file("data_1.txt")), englishFile({1234}));
        f.sendFrom(second, {example});
        QWidget *window = statusWindow(f);
        QTRY_COMPARE(value(window, "received"), QString("7"));
        QCOMPARE(value(window, "rejected"), QString("6"));
        QCOMPARE(value(window, "stored"), QString("1"));
        QCOMPARE(
            timesNow(rows(window, "senders"), 7),
            QStringList({"127.0.0.1|1|3|1|1|0|0|now", second.toString() + "|0|0|0|0|1|0|now"}));
        const QTreeWidgetItem *counts =
            window->findChild<QTreeWidget *>("senders")->topLevelItem(0);
        for (int c = 1; c <= 6; ++c) // the counts stand right, under each other
            QCOMPARE(counts->textAlignment(c), int(Qt::AlignRight | Qt::AlignVCenter));
        QCOMPARE(f.filesOfToday(), QStringList({"data_1.txt", "debug_1.txt"}));
        QCOMPARE(readFile(f.file("debug_1.txt")), example);
    }

    // A transfer whose second packet never came, after a whole one taught
    // how the scale numbers its packets: told with its file, counted under
    // the scale and the sender, and taken back when the packet comes late.
    void packetsThatNeverArrived()
    {
        Fixture f;
        f.send({packet1of3, packet2of3, packet3of3, packet1of3, packet3of3});
        QWidget *window = statusWindow(f);
        const QString lost = "now|data_2.txt: packet 2 of 3 from scale 00017 never arrived";
        QTRY_COMPARE(timesNow(rows(statusWindow(f), "scales"), 7),
                     QStringList{"00017|5|2|1||clock behind||now|127.0.0.1"});
        QVERIFY(timesNow(rows(window, "events"), 0).contains(lost));
        QCOMPARE(timesNow(rows(window, "senders"), 7), QStringList{"127.0.0.1|5|0|0|0|0|1|now"});
        QCOMPARE(shownWarning(), lost.mid(4));
        f.send({packet2of3});
        QTRY_COMPARE(timesNow(rows(statusWindow(f), "scales"), 7),
                     QStringList{"00017|6|3|0||clock behind||now|127.0.0.1"});
        QVERIFY(timesNow(rows(window, "events"), 0)
                    .contains("now|data_2.txt: packet 2 of 3 from scale 00017 arrived late"));
    }

    // A flood of losses: ten a second are told one by one, the others
    // counted and told in one line; the scale's row counts them all.
    void lossesToldTenASecond()
    {
        Fixture f;
        QByteArrayList burst{packet1of3, packet2of3, packet3of3};
        for (int i = 0; i < 25; ++i)
            burst << packet1of3 << packet3of3;
        f.send(burst);
        QTRY_COMPARE(rows(statusWindow(f), "scales").value(0).section('|', 3, 3), QString("25"));
        // Each told one by one, or counted in a line told a second later.
        const auto told = [&f] {
            const QRegularExpression untold("\\|(\\d+) more notices of what never arrived");
            const QStringList events = rows(statusWindow(f), "events");
            int n = int(events.filter("packet 2 of 3 from scale 00017 never arrived").size());
            for (const QString &line : events.filter(untold))
                n += untold.match(line).captured(1).toInt();
            return n;
        };
        QTRY_COMPARE(told(), 25);
        const QStringList events = rows(statusWindow(f), "events");
        QVERIFY2(events.filter("never arrived").size() < 25, qPrintable(events.join('\n')));
    }

    // Apply takes a list that parses and stores it; one that does not
    // changes nothing and names the entry.
    void allowedSendersApplied()
    {
        Fixture f;
        QWidget *window = statusWindow(f);
        auto *field = window->findChild<QLineEdit *>("allowedSenders");
        auto *apply = window->findChild<QPushButton *>("applyAllowedSenders");
        QCOMPARE(field->placeholderText(),
                 strings::phrase(strings::english, strings::AllowedSendersHint));
        field->setText("127.0.0.1, 10.1");
        apply->click();
        QCOMPARE(value(window, "allowedSendersProblem"), QString("Not an address or subnet: 10.1"));
        QVERIFY(Fixture::stored("AllowedSenders").isNull());
        f.sendFrom(second, {example});
        QTRY_COMPARE(f.filesOfToday(), QStringList{"data_1.txt"});

        field->setText("127.0.0.1,  fd00::/8");
        QTest::keyClick(field, Qt::Key_Return); // Enter applies as the button does
        QVERIFY(value(window, "allowedSendersProblem").isEmpty());
        QCOMPARE(Fixture::stored("AllowedSenders").toString(), QString("127.0.0.1, fd00::/8"));
        f.sendFrom(second, {example});
        f.send({example});
        QTRY_COMPARE(f.filesOfToday(), QStringList({"data_1.txt", "data_2.txt"}));
        QCOMPARE(timesNow(rows(statusWindow(f), "senders"), 7).value(0),
                 second.toString() + "|1|0|0|0|1|0|now");
    }

    // How long a scale may be silent is applied with the allowed senders;
    // what is stored is read within 0 (never) and a day.
    void silentScaleMinutesApplied_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("shown");
        QTest::newRow("none") << QVariant() << 30;
        QTest::newRow("never") << QVariant(0) << 0;
        QTest::newRow("past a day") << QVariant(99999) << 1440;
        QTest::newRow("negative") << QVariant(-5) << 0;
        QTest::newRow("not a number") << QVariant("half an hour") << 30;
    }

    void silentScaleMinutesApplied()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, shown);
        Fixture f(stored.isValid() ? Options{{"SilentScaleMinutes", stored}} : Options{});
        QWidget *window = statusWindow(f);
        auto *minutes = window->findChild<QSpinBox *>("silentScaleMinutes");
        QCOMPARE(minutes->value(), shown);
        minutes->setValue(7);
        window->findChild<QPushButton *>("applyAllowedSenders")->click();
        QCOMPARE(Fixture::stored("SilentScaleMinutes").toInt(), 7);
        // A list that does not parse applies neither.
        minutes->setValue(9);
        window->findChild<QLineEdit *>("allowedSenders")->setText("10.1");
        window->findChild<QPushButton *>("applyAllowedSenders")->click();
        QCOMPARE(Fixture::stored("SilentScaleMinutes").toInt(), 7);
    }

    // A scale silent while another sends: "silent since" in its row; each
    // row's hours as a strip up to the present hour, the figures in its
    // tool tip.
    void silenceAndHoursShown()
    {
        status::Snapshot s;
        status::ScaleRow quiet, busy;
        quiet.scale = "00017";
        quiet.records = 3;
        quiet.hours[0] = 3;
        quiet.silentSince = QDateTime(QDate::currentDate(), QTime(0, 3));
        busy.scale = "00018";
        busy.records = 24;
        busy.hours[0] = 8;
        busy.hours[QTime::currentTime().hour()] += 16;
        s.scales = {quiet, busy};
        StatusWindow window(strings::english, "status");
        window.display(s);
        QCOMPARE(rows(&window, "scales").value(0), QString("00017|3|0|0|||silent since 00:03||"));
        const auto *table = window.findChild<QTreeWidget *>("scales");
        const QString strip = table->topLevelItem(0)->text(hoursColumn);
        QCOMPARE(strip.size(), QTime::currentTime().hour() + 1);
        const QString idle = QString(strip.size() - 1, QChar(u'·'));
        QCOMPARE(strip, QString(u'█') + idle);
        QCOMPARE(table->topLevelItem(0)->toolTip(hoursColumn), QString("00:00 3"));
        const QString busyStrip = table->topLevelItem(1)->text(hoursColumn);
        QCOMPARE(busyStrip.front(), QTime::currentTime().hour() == 0 ? QChar(u'█') : QChar(u'▄'));
        QCOMPARE(busyStrip.back(), QChar(u'█'));
    }

    // The day tab: today's figures when it is looked at, another day by its
    // date, and the export, whose bytes the GUI-free test looks at.
    void dayAddsUp()
    {
        Fixture f;
        writeFile(f.file("data_1.txt"),
                  englishHeader +
                      (lineOfScale(1, "00017") + lineOfScale(4, "00017") + lineOfScale(9, "00003"))
                          .toLatin1());
        auto *window = qobject_cast<StatusWindow *>(statusWindow(f));
        auto *tabs = window->findChild<QTabWidget *>();
        tabs->setCurrentWidget(window->findChild<QWidget *>("day"));
        QVERIFY(tabs->currentWidget()->findChild<QPushButton *>("exportDay")); // on the tab
        QTRY_COMPARE(value(window, "daySummary"), QString("3 records in 1 files"));
        QCOMPARE(rows(window, "dayScales"),
                 QStringList({"00003|1|9|9|0|1250", "00017|2|1|4|2|2500"}));
        QCOMPARE(rows(window, "dayGoods"), QStringList{"105|3|3750|4590|4590"});

        QTemporaryDir out;
        window->exportDay(out.path());
        QTRY_VERIFY(value(window, "daySummary").startsWith("Written: "));
        const QString stem = out.filePath(QDate::currentDate().toString("dd.MM.yyyy"));
        for (const char *name : {" scales.csv", " goods.csv", " records.csv"})
            QVERIFY(QFile(stem + name).size() > 3);
        QFile records(stem + " records.csv");
        QVERIFY(records.open(QIODevice::ReadOnly));
        QCOMPARE(records.readAll().count("\r\n"), 4); // the header and three records
        window->exportDay(out.filePath("gone"));
        QTRY_VERIFY(value(window, "daySummary").startsWith("Could not write "));

        // Another date: today's figures go at once, while it is read.
        window->findChild<QDateEdit *>("dayDate")->setDate(QDate::currentDate().addDays(-1));
        QCOMPARE(value(window, "daySummary"), QString("Reading the day..."));
        QCOMPARE(rows(window, "dayGoods"), QStringList());
        QTRY_COMPARE(value(window, "daySummary"), QString("No folder for this day"));
        QCOMPARE(rows(window, "dayScales"), QStringList());
        // A service's data folder closed to this account is not an empty day,
        // and its records may be refused to this user.
        status::DayAnswer closed{QDate::currentDate().addDays(-1), {}, true, {}, "group:scales"};
        closed.report.closedFolder = "C:\\closed";
        window->exportDay(out.path());
        window->showDay(closed);
        QCOMPARE(value(window, "daySummary"),
                 QString("Only members of the group scales may read the service's records."));
        window->showDay(closed);
        QCOMPARE(value(window, "daySummary"),
                 QString("The data folder C:\\closed cannot be read from this account"));
        closed.unreachable = true;
        window->showDay(closed);
        QCOMPARE(value(window, "daySummary"),
                 strings::phrase(strings::english, strings::ServiceGone));
    }

    // The latest arrivals and warnings, newest first; a warning stays
    // readable here after its balloon is gone.
    void recentEvents()
    {
        Fixture f;
        f.send({example});
        QTRY_COMPARE(f.filesOfToday(), QStringList{"data_1.txt"});
        f.find<QLineEdit>("port")->setText("0");
        f.apply();
        const QString day = QDate::currentDate().toString("dd.MM.yyyy");
        QCOMPARE(timesNow(rows(statusWindow(f), "events"), 0),
                 QStringList({"now|UDP port 0 could not be opened: not a valid port number",
                              "now|1 records in " + QDir::toNativeSeparators(day + "/data_1.txt") +
                                  ", scales 00017"}));
        QCOMPARE(value(statusWindow(f), "port"), QString("0, not open: not a valid port number"));
    }

    void bothLanguages_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("texts");
        QTest::newRow("english")
            << "English"
            << "Options|Status|Open data folder|Scalvanto - Status|%1, open|Reception|"
               "Scales today|Senders|Recent events|Day|Allowed senders:|Apply|Close|"
               "Export...|Warn of a scale silent for (min):";
        QTest::newRow("russian")
            << "Russian"
            << "Настройки|Состояние|Открыть папку данных|Скальванто - Состояние|%1, открыт|"
               "Приём|Весы сегодня|Отправители|Последние события|День|Разрешённые отправители:|"
               "Применить|Закрыть|Экспорт...|Предупреждать о молчании весов через (мин):";
    }
    void bothLanguages()
    {
        QFETCH(QString, language);
        QFETCH(QString, texts);
        Fixture f({{"Language", language}});
        QWidget *window = statusWindow(f);
        QStringList seen{command(f, 0)->text(), command(f, 1)->text(), command(f, 2)->text(),
                         window->windowTitle(), value(window, "port")};
        for (QGroupBox *box : window->findChildren<QGroupBox *>())
            seen << box->title();
        auto *tabs = window->findChild<QTabWidget *>();
        for (int i = 0; i < tabs->count(); ++i)
            seen.insert(seen.size() - 1, tabs->tabText(i));
        seen << window->findChild<QPushButton *>("applyAllowedSenders")->text()
             << window->findChild<QPushButton *>("close")->text()
             << window->findChild<QPushButton *>("exportDay")->text();
        for (QLabel *label : window->findChildren<QLabel *>()) {
            if (label->buddy() == window->findChild<QSpinBox *>("silentScaleMinutes"))
                seen << label->text();
        }
        QCOMPARE(seen.join('|'), texts.arg(f.port()));
    }

#ifdef Q_OS_LINUX
    // More than the receive buffer holds, sent while the program reads
    // nothing: what the system dropped is counted, and with what was read
    // makes up all that was sent.
    void dropCounterSeesAnOverflow()
    {
        Fixture f;
        const int sent = 30000;
        f.send(QByteArrayList(sent, packet1of3));
        QWidget *window = statusWindow(f);
        const auto total = [&] {
            statusWindow(f);
            return value(window, "received").toLongLong() + value(window, "dropped").toLongLong();
        };
        QTRY_COMPARE_WITH_TIMEOUT(total(), qint64(sent), 20000);
        QVERIFY(value(window, "dropped").toLongLong() > 0);
    }
#endif
};

QTEST_MAIN(TestStatus)
#include "tst_status.moc"
