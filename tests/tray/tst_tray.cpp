// The tray icon: blinking after new results and stopping on a double-click,
// and, where there is a real tray, the balloons as the user sees them and
// closing the window to the tray.
#include "datagrams.h"
#include "fixture.h"
#include "service.h"

#include <QLabel>
#include <QLineEdit>

namespace {

bool samePicture(const QIcon &icon, const char *resource)
{
    return icon.pixmap(32).toImage() == QIcon(resource).pixmap(32).toImage();
}

bool shows(QSystemTrayIcon *tray, const char *resource)
{
    return samePicture(tray->icon(), resource);
}

const QDateTime first(QDate(2026, 12, 6), QTime(14, 3, 9));
const QDateTime second(QDate(2026, 12, 6), QTime(14, 3, 12));
const QDateTime third(QDate(2026, 12, 6), QTime(14, 3, 15));

} // namespace

class TestTray : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { waitForTray(); }

    void blinking()
    {
        Fixture f;
        Tray *tray = f.probe->trayIcon();
        QTimer *timer = GravexProbe::blinkTimer(tray);
        QVERIFY(!timer->isActive() && shows(tray, ":/Gravex"));
        tray->announce(first);
        QVERIFY(shows(tray, ":/Gravex")); // the image changes only on the first tick
        for (const char *image : {":/NewMessage", ":/Gravex", ":/NewMessage"}) {
            GravexProbe::tick(tray);
            QVERIFY(shows(tray, image));
        }
        // Later arrivals leave the running period alone, so that a stream of
        // them cannot hold the image still; the timer drives the blinking.
        QTRY_VERIFY(timer->remainingTime() < 400);
        tray->announce(second);
        QVERIFY(timer->remainingTime() < 400);
        QTRY_VERIFY(shows(tray, ":/Gravex"));
    }

    // The tray menu's commands, each with its picture.
    void menuPictures()
    {
        Fixture f;
        const std::pair<const char *, const char *> pictures[] = {{"aboutQt", ":/QtLogo"},
                                                                  {"about", ":/About"},
                                                                  {"license", ":/Lic"},
                                                                  {"readme", ":/Help"},
                                                                  {"quit", ":/Exit"}};
        for (const auto &[name, picture] : pictures)
            QVERIFY2(samePicture(f.find<QAction>(name)->icon(), picture), name);
        const QMenu *help = nullptr;
        for (const QAction *a : f.trayMenu()->actions())
            help = QMenu::menuInAction(a) ? QMenu::menuInAction(a) : help;
        QVERIFY(help && samePicture(help->icon(), ":/Info"));
    }

    void activation_data()
    {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::addColumn<int>("ticks"); // -1: not blinking
        QTest::addColumn<bool>("stops");
        QTest::newRow("double-click, alert phase") << QSystemTrayIcon::DoubleClick << 1 << true;
        QTest::newRow("double-click, resting phase") << QSystemTrayIcon::DoubleClick << 2 << true;
        QTest::newRow("double-click, not blinking") << QSystemTrayIcon::DoubleClick << -1 << false;
        QTest::newRow("context menu") << QSystemTrayIcon::Context << 1 << false;
    }
    void activation()
    {
        QFETCH(QSystemTrayIcon::ActivationReason, reason);
        QFETCH(int, ticks);
        QFETCH(bool, stops);
        Fixture f;
        Tray *tray = f.probe->trayIcon();
        if (ticks >= 0)
            tray->blink();
        for (int i = 0; i < ticks; ++i)
            GravexProbe::tick(tray);
        Q_EMIT tray->activated(reason);
        QCOMPARE(GravexProbe::blinkTimer(tray)->isActive(), ticks >= 0 && !stops);
        QVERIFY(shows(tray, ticks % 2 == 1 && !stops ? ":/NewMessage" : ":/Gravex"));
        if (stops) { // blinking again starts from rest
            GravexProbe::tick(tray);
            QVERIFY(shows(tray, ":/NewMessage"));
        }
    }

    // At most one arrival balloon a second, and the last one carries the
    // latest arrival's time; a warning shows at once and holds no arrival
    // back; the double-click repeats the latest arrival.
    void balloons()
    {
        Fixture f;
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("needs a system tray");
        Tray *tray = f.probe->trayIcon();
        const QString arrived = "Scalvo|New results of weighing have arrived \n";
        tray->announce(first);
        QTRY_COMPARE(balloon(), arrived + "06.12.2026  14:03:09");
        tray->announce(second);
        QCOMPARE(balloon(), arrived + "06.12.2026  14:03:09");
        QTRY_COMPARE(balloon(), arrived + "06.12.2026  14:03:12");
        // A warning shows at once; those within its second wait for the
        // next balloon, which names the first three and counts the rest.
        // An arrival waits until the warning could be read.
        tray->warn("X");
        QCOMPARE(balloon(), QString("Scalvo|X"));
        for (const char *text : {"A", "B", "C", "D", "E"})
            tray->warn(text);
        tray->announce(third);
        QCOMPARE(balloon(), QString("Scalvo|X"));
        QTRY_COMPARE(balloon(), QString("Scalvo|A\nB\nC\n(+2)"));
        QTest::qWait(Tray::warningHoldMs - 2000);
        QCOMPARE(balloon(), QString("Scalvo|A\nB\nC\n(+2)"));
        QTRY_COMPARE(balloon(), arrived + "06.12.2026  14:03:15");
        // After a quiet second, the next arrival is shown at once.
        QTest::qWait(Tray::arrivalPauseMs + 200);
        tray->announce(second);
        QCOMPARE(balloon(), arrived + "06.12.2026  14:03:12");
        f.probe->setLanguage(0);
        tray->warn("Не удалось сохранить данные в файл:\nX");
        QTRY_COMPARE(balloon(), QString("Скальво|Не удалось сохранить данные в файл:\nX"));
        f.probe->setLanguage(1);
        Q_EMIT tray->activated(QSystemTrayIcon::DoubleClick);
        QTRY_COMPARE(balloon(), arrived + "06.12.2026  14:03:12");
    }

    // The tray program as the window of a service: the service's arrival
    // raises the balloon.
    void serviceArrival()
    {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("needs a system tray");
        ServiceProcess service;
        QVERIFY(service.start());
        service.sandbox.send(example);
        QTRY_COMPARE(service.sandbox.records().size(), 1);
        Fixture f;
        service.follow();
        f.start();
        // Its window from the start: the tooltip tells the service's day.
        QTRY_VERIFY(f.probe->trayIcon()->toolTip().endsWith(", 1 records today"));
        QCOMPARE(f.find<QLineEdit>("folder")->text(),
                 QDir::toNativeSeparators(service.sandbox.dataFolder()));
        service.sandbox.send(example);
        QTRY_VERIFY(balloon().startsWith("Scalvo|New results of weighing have arrived \n"));
        QVERIFY(f.blinking());
    }

#ifndef Q_OS_WIN // a service and a tray program of one account share one registry key there
    // A service on another port leaves this program receiving. Moved to its
    // port from elsewhere, the service takes over: the options window shows
    // the service's options and the tooltip the service's day.
    void handOverShowsTheServiceOptions()
    {
        ServiceProcess service;
        Fixture f;
        service.follow();
        f.start();
        QVERIFY(service.start());
        QTRY_VERIFY(f.probe->followsService());
        QVERIFY(f.probe->receives());
        f.send({example});
        QTRY_VERIFY(f.probe->trayIcon()->toolTip().endsWith(", 1 records today"));
        service.sandbox.send(example);
        service.sandbox.send(example);
        QTRY_COMPARE(service.sandbox.records().size(), 2);
        const quint16 port = f.port();
        ServiceClient other;
        QVERIFY(other.connectNow(5000));
        options::Values request = other.options();
        request.udpPort = port;
        other.apply(request, request.filePath);
        QTRY_VERIFY(!f.probe->receives());
        QCOMPARE(f.find<QLineEdit>("folder")->text(),
                 QDir::toNativeSeparators(service.sandbox.dataFolder()));
        QTRY_VERIFY(f.probe->trayIcon()->toolTip().endsWith(", 2 records today"));
    }
#endif

    // With a tray to return to, closing only hides the window.
    void closingOnlyHides()
    {
        Fixture f;
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("needs a system tray");
        f.command("options");
        QVERIFY(!f.gravex->close());
        QVERIFY(f.gravex->isHidden() && !f.find<QAction>("options")->isChecked());
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
