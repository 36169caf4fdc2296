// Each arrival raises its own balloon, whatever the time since the last one,
// on a virtual desktop with a real tray. The gaps take half a minute: they
// are a program of their own.
#include "datagrams.h"
#include "fixture.h"

class TestBalloons : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { waitForTray(); }

    // The balloon always shows the latest arrival's time.
    void eachArrivalItsBalloon_data()
    {
        QTest::addColumn<int>("gapMs");
        for (int seconds : {1, 3, 8, 20})
            QTest::addRow("%d s after the last", seconds) << seconds * 1000;
    }
    void eachArrivalItsBalloon()
    {
        QFETCH(int, gapMs);
        Fixture f;
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("needs a system tray");
        const QString arrived = "Scalvo|New results of weighing have arrived \n";
        f.send({example});
        QTRY_VERIFY(balloon().startsWith(arrived));
        const QString firstShown = balloon();
        QTest::qWait(gapMs); // the gap between arrivals is what is tested
        const QDateTime sent = QDateTime::currentDateTime();
        f.send({example});
        QTRY_VERIFY(balloon() != firstShown);
        const QDateTime shown =
            QDateTime::fromString(balloon().mid(arrived.size()), "dd.MM.yyyy  hh:mm:ss");
        QVERIFY2(shown >= sent.addMSecs(-sent.time().msec()), qPrintable(balloon()));
    }
};

QTEST_MAIN(TestBalloons)
#include "tst_balloons.moc"
