// Packets that never arrived: sequences of packet numbers written out by
// hand, filed as the data files number them (a transfer's last packet moves
// the number on), and what is told of them.
#include "status/transfers.h"

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
        const status::Transfers::Heard heard = transfers.packet(
            "10.0.0.5", token.left(1), number, count, QString("data_%1.txt").arg(fileNumber));
        for (const auto &loss : heard.lost)
            told << QString("lost %1 %2 %3 of %4")
                        .arg(loss.file, loss.scale, status::ranges(loss.packets))
                        .arg(loss.count);
        for (const auto &late : heard.arrived)
            told << QString("late %1 %2 %3 of %4")
                        .arg(late.file, late.scale, status::ranges(late.packets))
                        .arg(late.count);
        if (number == count)
            ++fileNumber;
    }
    return told;
}

} // namespace

class TestTransfers : public QObject
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
        QTest::newRow("nothing told before the numbering is learnt")
            << "A1/3 A3/3 A1/3 A3/3 A2/2" << QStringList();
        QTest::newRow("scales interleaved, each followed on its own")
            << "A1/1 B1/1 A1/3 B1/2 A2/3 B2/2 A3/3 A1/3 B1/2 A3/3"
            << QStringList{"lost data_5.txt A 2 of 3"};
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
        QVERIFY(transfers.packet("10.0.0.6", "A", 2, 2, "data_9.txt").lost.isEmpty());
        for (int i = 0; i < status::Transfers::followedLimit; ++i)
            transfers.packet("10.0.0.5", QString::number(i), 1, 1, "data_1.txt");
        QCOMPARE(follow(transfers, "A2/2"), QStringList());
        QCOMPARE(follow(transfers, "A1/1 A2/2"), QStringList{"lost data_2.txt A 1 of 2"});
    }

    void ranges()
    {
        QCOMPARE(status::ranges({}), QString());
        QCOMPARE(status::ranges({7, 2, 4, 5, 6, 9}), QString("2, 4\u20137, 9"));
    }
};

QTEST_GUILESS_MAIN(TestTransfers)
#include "tst_transfers.moc"
