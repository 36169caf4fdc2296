// The tray icon: blinking after new results and stopping on a double-click,
// its context menu, and the commands behind the menu entries.
#include "gravexfixture.h"
#include "modaldriver.h"
#include "utf8.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QTest>
#include <QUrl>

namespace {
const QString programImage = QStringLiteral(":/Gravex");
const QString newMessageImage = QStringLiteral(":/NewMessage");
const QString separator = QStringLiteral("--");

QImage image(const QIcon &icon)
{
    const int side = 32;
    return icon.pixmap(side).toImage();
}

bool shows(QSystemTrayIcon *tray, const QString &resource)
{
    return image(tray->icon()) == image(QIcon(resource));
}

// Entry texts top to bottom, a separator as "--".
QStringList entries(QMenu *menu)
{
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << (a->isSeparator() ? separator : a->text());
    return texts;
}
} // namespace

class TestTray : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    // Stands in for the desktop's handler of file addresses.
    void openFile(const QUrl &url) { openedUrls << url; }

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void blinkingAlternatesImages();
    void timerDrivesTheBlinking();
    void activation_data();
    void activation();
    void menu_data();
    void menu();
    void informationBoxes_data();
    void informationBoxes();
    void textFilesBesideProgram_data();
    void textFilesBesideProgram();

private:
    QList<QUrl> openedUrls;
};

void TestTray::initTestCase()
{
    if (!QFileInfo::exists(programImage) || !QFileInfo::exists(newMessageImage))
        QSKIP("the tray images are not compiled in");
    // Otherwise the phases of the blinking could not be told apart.
    QVERIFY(image(QIcon(programImage)) != image(QIcon(newMessageImage)));
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openFile");
}

void TestTray::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void TestTray::blinkingAlternatesImages()
{
    GravexFixture f;
    Tray *tray = f.probe.trayIcon();
    QTimer *timer = GravexProbe::blinkTimer(tray);
    auto phaseIs = [&](bool alert) {
        return GravexProbe::blinkState(tray) == alert &&
               shows(tray, alert ? newMessageImage : programImage);
    };

    QVERIFY(!timer->isActive());
    QVERIFY(phaseIs(false));

    tray->blink();
    QVERIFY(timer->isActive());
    QVERIFY(!timer->isSingleShot());
    QCOMPARE(timer->interval(), 800);
    QVERIFY(phaseIs(false)); // the image changes only on the first tick

    GravexProbe::tick(tray);
    QVERIFY(phaseIs(true));
    GravexProbe::tick(tray);
    QVERIFY(phaseIs(false));
    GravexProbe::tick(tray);
    QVERIFY(phaseIs(true));

    // A second arrival restarts the period and keeps the phase.
    tray->blink();
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 800);
    QVERIFY(phaseIs(true));
    GravexProbe::tick(tray);
    QVERIFY(phaseIs(false));
}

void TestTray::timerDrivesTheBlinking()
{
    GravexFixture f;
    Tray *tray = f.probe.trayIcon();
    tray->blink();
    QTRY_VERIFY(GravexProbe::blinkState(tray));
    QTRY_VERIFY(!GravexProbe::blinkState(tray));
}

void TestTray::activation_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<int>("ticks"); // -1: resting, not blinking
    QTest::addColumn<bool>("stops");

    QTest::newRow("double-click in alert phase") << QSystemTrayIcon::DoubleClick << 1 << true;
    QTest::newRow("double-click in resting phase") << QSystemTrayIcon::DoubleClick << 2 << true;
    QTest::newRow("double-click when not blinking") << QSystemTrayIcon::DoubleClick << -1 << false;
    QTest::newRow("single click") << QSystemTrayIcon::Trigger << 1 << false;
    QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << 1 << false;
    QTest::newRow("context menu request") << QSystemTrayIcon::Context << 0 << false;
    QTest::newRow("unknown") << QSystemTrayIcon::Unknown << 1 << false;
}

void TestTray::activation()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(int, ticks);
    QFETCH(bool, stops);

    GravexFixture f;
    Tray *tray = f.probe.trayIcon();
    QTimer *timer = GravexProbe::blinkTimer(tray);
    if (ticks >= 0)
        tray->blink();
    for (int i = 0; i < ticks; ++i)
        GravexProbe::tick(tray);
    const bool blinking = timer->isActive();
    const bool phase = GravexProbe::blinkState(tray);

    // Through the signal, as the constructor wired it.
    Q_EMIT tray->activated(reason);

    if (stops) {
        QVERIFY(!timer->isActive());
    } else {
        QCOMPARE(timer->isActive(), blinking);
        QCOMPARE(GravexProbe::blinkState(tray), phase);
    }
    if (!timer->isActive()) {
        QVERIFY(!GravexProbe::blinkState(tray));
        QVERIFY(shows(tray, programImage));
    }
}

void TestTray::menu_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("top");
    QTest::addColumn<QStringList>("help");
    QTest::addColumn<QString>("toolTip");

    QTest::newRow("english") << QStringLiteral("English")
                             << utf8List({"Options", "--", "Help", "Close"})
                             << utf8List({"About Qt", "About", "--", "License", "--", "Help"})
                             << QStringLiteral("Scalvanto");
    QTest::newRow("russian") << QStringLiteral("Russian")
                             << utf8List({"Настройки", "--", "Справка", "Закрыть"})
                             << utf8List({"About Qt", "О программе", "--",
                                          "Лицензионное соглашение", "--", "Справка"})
                             << QString::fromUtf8("Скальванто");
}

void TestTray::menu()
{
    QFETCH(QString, language);
    QFETCH(QStringList, top);
    QFETCH(QStringList, help);
    QFETCH(QString, toolTip);

    GravexFixture f({{QStringLiteral("Language"), language}});
    GravexProbe &p = f.probe;
    QCOMPARE(p.trayIcon()->contextMenu(), p.trayMenu());
    QCOMPARE(p.trayIcon()->toolTip(), toolTip);
    QCOMPARE(entries(p.trayMenu()), top);
    QCOMPARE(entries(p.helpMenu()), help);

    QCOMPARE(p.trayMenu()->actions().value(2)->menu(), p.helpMenu());

    // Only "Options" carries a check mark and no image.
    QVERIFY(p.showWindowAction()->isCheckable());
    QVERIFY(p.showWindowAction()->icon().isNull());
    for (QAction *a : {p.helpMenu()->menuAction(), p.aboutQtAction(), p.aboutAction(),
                       p.licenseAction(), p.readmeAction(), p.quitAction()}) {
        QVERIFY2(!a->icon().isNull(), qPrintable(a->text()));
        QVERIFY(!a->isCheckable());
    }
}

void TestTray::informationBoxes_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("textStart");

    QTest::newRow("about, english")
        << QStringLiteral("English") << QStringLiteral("about") << QStringLiteral("Scalvo")
        << QStringLiteral("<b>Scalvanto 1.0</b><br><br>");
    QTest::newRow("about, russian")
        << QStringLiteral("Russian") << QStringLiteral("about") << QString::fromUtf8("Скальво")
        << QString::fromUtf8("<b>Скальванто 1.0</b><br><br>");
    QTest::newRow("about Qt") << QStringLiteral("English") << QStringLiteral("aboutQt")
                              << QStringLiteral("Scalvanto") << QString();
}

void TestTray::informationBoxes()
{
    QFETCH(QString, language);
    QFETCH(QString, entry);
    QFETCH(QString, title);
    QFETCH(QString, textStart);

    GravexFixture f({{QStringLiteral("Language"), language}});
    QApplication::setQuitOnLastWindowClosed(false);
    ModalDriver driver;
    (entry == QLatin1String("about") ? f.probe.aboutAction() : f.probe.aboutQtAction())->trigger();

    QCOMPARE(driver.boxes.size(), 1);
    QCOMPARE(driver.boxes.first().title, title);
    QVERIFY2(driver.boxes.first().text.startsWith(textStart),
             qPrintable(driver.boxes.first().text));
    if (entry == QLatin1String("about"))
        QVERIFY(
            driver.boxes.first().text.contains(QStringLiteral("Qt ") + QLatin1String(qVersion())));
}

void TestTray::textFilesBesideProgram_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("help") << QStringLiteral("readme") << QStringLiteral("Readme.txt");
    QTest::newRow("license") << QStringLiteral("license") << QStringLiteral("License.txt");
}

void TestTray::textFilesBesideProgram()
{
    QFETCH(QString, entry);
    QFETCH(QString, fileName);

    GravexFixture f;
    openedUrls.clear();
    (entry == QLatin1String("readme") ? f.probe.readmeAction() : f.probe.licenseAction())
        ->trigger();

    QCOMPARE(openedUrls.size(), 1);
    const QUrl url = openedUrls.first();
    QVERIFY(url.isLocalFile());
    const QFileInfo file(url.toLocalFile());
    QCOMPARE(file.fileName(), fileName);
    QCOMPARE(file.absolutePath(), QCoreApplication::applicationDirPath());
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
