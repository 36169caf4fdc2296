// How long the status window takes to read a day of 100,000 records: a day
// folder of 5,000 data files of 20 records (eight scales, 200 PLUs) made on
// the disk beside the build, and put out of the system's cache. Read once
// from the disk (as a window looking at an earlier day does), then read
// again from the cache.
//
// The service's part when its window asks for the day: the figures for the
// socket, and every page of the records, each page read anew from the files.
//
//   bench_day          wall clock: the first reading, then per reading
#include "service/protocol.h"
#include "status/dayreport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

class BenchDay : public QObject
{
    Q_OBJECT

    QString day = QDir::currentPath() + "/bench-day/08.12.2026";

private Q_SLOTS:
    void initTestCase()
    {
        QDir(day).removeRecursively();
        QVERIFY(QDir().mkpath(day));
        int transaction = 0;
        for (int file = 1; file <= 5000; ++file) {
            QByteArray text = "# a header line\r\n\r\n";
            for (int r = 0; r < 20; ++r, ++transaction)
                text += QString("%1;0;8.12.2026 9:%2:%3;2;%4;3;%5;%6;%7;\r\n")
                            .arg(transaction / 8)
                            .arg(r % 60)
                            .arg(file % 60)
                            .arg(transaction % 8 + 1, 5, 10, QChar('0'))
                            .arg(transaction % 200 + 1)
                            .arg(4590 + transaction % 3)
                            .arg(1250 + transaction % 977)
                            .toLatin1();
            QFile out(day + QString("/data_%1.txt").arg(file));
            QVERIFY(out.open(QIODevice::WriteOnly));
            QCOMPARE(out.write(text), text.size());
            QVERIFY(out.flush());
            QCOMPARE(::fdatasync(out.handle()), 0);
            QCOMPARE(::posix_fadvise(out.handle(), 0, 0, POSIX_FADV_DONTNEED), 0);
        }
    }

    void readDayFromTheDisk()
    {
        QElapsedTimer timer;
        timer.start();
        const status::DayReport report = status::readDay(day);
        qInfo("first reading, from the disk: %lld ms", timer.elapsed());
        QCOMPARE(report.records, 100000);
    }

    void readDay()
    {
        status::DayReport report;
        QBENCHMARK
        {
            report = status::readDay(day);
        }
        QCOMPARE(report.records, 100000);
        QCOMPARE(report.scales.size(), 8);
        QCOMPARE(report.plus.size(), 200);
    }

    void dayForTheServicesWindow()
    {
        qsizetype bytes = 0;
        int pages = 0;
        QBENCHMARK
        {
            const status::DayReport report = status::readDay(day);
            bytes = status::serializeDay(report).size();
            status::DayCursor cursor;
            for (pages = 0; !cursor.done; ++pages)
                bytes += status::readRecordPage(day, cursor, protocol::recordPageBytes).size();
        }
        qInfo("%d pages, %lld bytes in all", pages, qint64(bytes));
        QVERIFY(bytes > 100000 * 40);
    }

    void cleanupTestCase() { QDir(day).removeRecursively(); }
};

QTEST_GUILESS_MAIN(BenchDay)
#include "bench_day.moc"
