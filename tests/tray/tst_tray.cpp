// The tray icon: blinking after new results and stopping on a double-click,
// its context menu, the About box and the commands behind the menu entries.
#include "fixture.h"

#include <QDesktopServices>
#include <QRegularExpression>
#include <QUrl>

namespace {

bool shows(QSystemTrayIcon *tray, const char *resource)
{
    return tray->icon().pixmap(32).toImage() == QIcon(resource).pixmap(32).toImage();
}

// The blinking's phase: the flag and the image shown agree.
bool phaseIs(Tray *tray, bool alert)
{
    return GravexProbe::blinkState(tray) == alert &&
           shows(tray, alert ? ":/NewMessage" : ":/Gravex");
}

// Entry texts top to bottom, a separator as "--".
QString entries(QMenu *menu)
{
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << (a->isSeparator() ? "--" : a->text());
    return texts.join('|');
}

} // namespace

class TestTray : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    // Stands in for the desktop's handler of file addresses.
    void openFile(const QUrl &url) { openedUrls << url; }

private Q_SLOTS:
    void initTestCase()
    {
        // Otherwise the phases of the blinking could not be told apart.
        QVERIFY(QIcon(":/Gravex").pixmap(32).toImage() !=
                QIcon(":/NewMessage").pixmap(32).toImage());
        QDesktopServices::setUrlHandler("file", this, "openFile");
    }

    void blinking()
    {
        Fixture f;
        Tray *tray = f.probe->trayIcon();
        QTimer *timer = GravexProbe::blinkTimer(tray);
        QVERIFY(!timer->isActive() && phaseIs(tray, false));
        tray->blink();
        QVERIFY(timer->isActive() && !timer->isSingleShot());
        QCOMPARE(timer->interval(), 800);
        QVERIFY(phaseIs(tray, false)); // the image changes only on the first tick
        for (bool alert : {true, false, true}) {
            GravexProbe::tick(tray);
            QVERIFY(phaseIs(tray, alert));
        }
        // A second arrival restarts the period and keeps the phase; the timer
        // drives the blinking.
        tray->blink();
        QVERIFY(timer->isActive() && phaseIs(tray, true));
        QTRY_VERIFY(phaseIs(tray, false));
    }

    void activation_data()
    {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::addColumn<int>("ticks"); // -1: not blinking
        QTest::addColumn<bool>("stops");
        QTest::newRow("double-click, alert phase") << QSystemTrayIcon::DoubleClick << 1 << true;
        QTest::newRow("double-click, resting phase") << QSystemTrayIcon::DoubleClick << 2 << true;
        QTest::newRow("double-click, not blinking") << QSystemTrayIcon::DoubleClick << -1 << false;
        QTest::newRow("single click") << QSystemTrayIcon::Trigger << 1 << false;
        QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << 1 << false;
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
        Q_EMIT tray->activated(reason); // through the signal, as the constructor wired it
        QCOMPARE(GravexProbe::blinkTimer(tray)->isActive(), ticks >= 0 && !stops);
        QVERIFY(phaseIs(tray, ticks % 2 == 1 && !stops));
    }

    void menu_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("texts"); // the menu, the Help sub-menu, the tool tip
        QTest::newRow("english") << "English"
                                 << "Options|--|Help|Close / About Qt|About|--|License|--|Help / "
                                    "Scalvanto";
        QTest::newRow("russian") << "Russian"
                                 << "Настройки|--|Справка|Закрыть / About Qt|О программе|--|"
                                    "Лицензионное соглашение|--|Справка / Скальванто";
    }
    void menu()
    {
        QFETCH(QString, language);
        QFETCH(QString, texts);
        Fixture f({{"Language", language}});
        GravexProbe &p = *f.probe;
        QCOMPARE(p.trayIcon()->contextMenu(), p.trayMenu());
        QCOMPARE(p.trayMenu()->actions().value(2)->menu(), p.helpMenu());
        for (QAction *a :
             p.trayMenu()->actions() + p.helpMenu()->actions()) // only Options has none
            QCOMPARE(a->icon().isNull(), a->isSeparator() || a == p.showWindowAction());
        QCOMPARE(entries(p.trayMenu()) + " / " + entries(p.helpMenu()) + " / " +
                     p.trayIcon()->toolTip(),
                 texts);
    }

    // The About box's rich text: bold heading, maker and project links, the
    // Qt in use and the closing trade-marks sentence; and the About Qt box.
    void aboutBoxes_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("expected"); // titles, heading, maker, project link, ending
        QTest::newRow("english") << "English"
                                 << "Scalvo|Scalvanto|<b>Scalvanto 1.0</b><br><br>|Massa-K|Project "
                                    "page|<br><br><br>All trade marks mentioned here, are the "
                                    "property of their appropriate owners.";
        QTest::newRow("russian") << "Russian"
                                 << "Скальво|Скальванто|<b>Скальванто 1.0</b><br><br>|Масса-К|"
                                    "Страница проекта|<br><br><br>Все товарные знаки, упомянутые "
                                    "здесь, являются собственностью их соответствующих владельцев.";
    }
    void aboutBoxes()
    {
        QFETCH(QString, language);
        QFETCH(QString, expected);
        const QStringList texts = expected.split('|');
        Fixture f({{"Language", language}});
        QApplication::setQuitOnLastWindowClosed(false);
        ModalDriver driver;
        f.probe->aboutAction()->trigger();
        f.probe->aboutQtAction()->trigger();
        QCOMPARE(driver.boxes.size(), 2);
        QCOMPARE(
            QStringList({driver.boxes[0].section('|', 0, 0), driver.boxes[1].section('|', 0, 0)}),
            texts.mid(0, 2));
        const QString text = driver.boxes[0].section('|', 1, 1);
        QVERIFY2(text.startsWith(texts[2]) && text.endsWith(texts[5]), qPrintable(text));
        // Anchors carry a bare address: one ending in "/" would read as a
        // self-closing tag and lose the link.
        QVERIFY(QRegularExpression("<a href=[^\"'\\s>]*[^\"'\\s>/]>" + texts[3] + "</a>")
                    .match(text)
                    .hasMatch());
        const QString readme = QCoreApplication::applicationDirPath() + "/Readme.txt";
        QVERIFY(
            text.contains("<a href=" + QUrl::fromLocalFile(readme).toString(QUrl::FullyEncoded) +
                          '>' + texts[4] + "</a>."));
        QVERIFY(!text.contains(QRegularExpression("href=[\"']|<a href=[^>]*/>")));
        QVERIFY(text.contains(QString("Qt ") + qVersion()));
    }

    void textFilesBesideProgram()
    {
        Fixture f;
        f.probe->readmeAction()->trigger();
        f.probe->licenseAction()->trigger();
        const QString folder = QCoreApplication::applicationDirPath();
        QCOMPARE(openedUrls, QList<QUrl>({QUrl::fromLocalFile(folder + "/Readme.txt"),
                                          QUrl::fromLocalFile(folder + "/License.txt")}));
    }

private:
    QList<QUrl> openedUrls;
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
