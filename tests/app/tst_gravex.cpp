// The application shell: what is on screen after start-up, showing and
// hiding the options window, and the confirmed quit.
#include "gravexfixture.h"
#include "modaldriver.h"
#include "utf8.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QTest>

namespace {
const QString russianConf = QStringLiteral("Russian");
const QString englishConf = QStringLiteral("English");
// Exit code of the fallback that ends the event loop when the program did not.
constexpr int stillRunning = 42;
} // namespace

class TestGravex : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsInTheTrayWithWindowHidden();
    void optionsEntryTogglesWindow();
    void closingOnlyHides_data();
    void closingOnlyHides();
    void closingTheOnlyWindowKeepsProgramRunning();
    void quitConfirmation_data();
    void quitConfirmation();
    void textsFollowLanguageAtEveryCall();
};

void TestGravex::startsInTheTrayWithWindowHidden()
{
    GravexFixture f;
    QVERIFY(f.g().isHidden());
    QVERIFY(!f.g().isVisible());
    QVERIFY(f.probe.trayIcon());
    QVERIFY(f.probe.trayIcon()->isVisible());
    QVERIFY(f.probe.showWindowAction()->isCheckable());
    QVERIFY(!f.probe.showWindowAction()->isChecked());
    QVERIFY(f.probe.newFile());
    QCOMPARE(f.probe.version(), QStringLiteral("1.0"));
    QCOMPARE(f.g().windowTitle(), QString::fromUtf8("Скальванто"));
}

void TestGravex::optionsEntryTogglesWindow()
{
    GravexFixture f;
    for (bool shown : {true, false, true}) {
        f.probe.showWindowAction()->trigger();
        QCOMPARE(f.g().isVisible(), shown);
        QCOMPARE(f.probe.showWindowAction()->isChecked(), shown);
    }
}

void TestGravex::closingOnlyHides_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("title bar") << QStringLiteral("close");
    QTest::newRow("Close button") << QStringLiteral("button");
    QTest::newRow("close event") << QStringLiteral("event");
}

void TestGravex::closingOnlyHides()
{
    QFETCH(QString, how);
    GravexFixture f;
    QPointer<Gravex> alive(&f.g());
    f.probe.showWindow();
    f.probe.folderEdit()->setText(QStringLiteral("/elsewhere/scales"));
    f.probe.portEdit()->setText(QStringLiteral("4321"));
    f.probe.debugCheck()->setChecked(true);

    if (how == QLatin1String("close")) {
        QVERIFY(!f.g().close()); // refused: the window is only hidden
    } else if (how == QLatin1String("button")) {
        f.probe.closeButton()->click();
    } else {
        QCloseEvent event;
        QApplication::sendEvent(&f.g(), &event);
        QVERIFY(!event.isAccepted());
    }
    QCoreApplication::processEvents();

    QVERIFY(alive);
    QVERIFY(f.g().isHidden());
    QVERIFY(!f.probe.showWindowAction()->isChecked());

    f.probe.showWindow();
    QVERIFY(f.g().isVisible());
    QCOMPARE(f.probe.folderEdit()->text(), QStringLiteral("/elsewhere/scales"));
    QCOMPARE(f.probe.portEdit()->text(), QStringLiteral("4321"));
    QVERIFY(f.probe.debugCheck()->isChecked());
}

void TestGravex::closingTheOnlyWindowKeepsProgramRunning()
{
    GravexFixture f;
    // Qt's own default: closing the last window would end the event loop,
    // unless the close is refused.
    QApplication::setQuitOnLastWindowClosed(true);
    f.probe.showWindow();
    QTimer fallback;
    fallback.setSingleShot(true);
    connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(stillRunning); });
    QTimer::singleShot(0, &f.g(), [&] {
        f.g().close();
        fallback.start(0);
    });
    QCOMPARE(QApplication::exec(), stillRunning);
    QVERIFY(f.g().isHidden());
}

void TestGravex::quitConfirmation_data()
{
    QTest::addColumn<QString>("startLanguage");
    QTest::addColumn<int>("languageAfterStart");
    QTest::addColumn<bool>("windowShown");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("texts"); // title, text, informative text

    const QStringList russian = utf8List({"Скальво", "Скальванто", "Вы хотите закрыть программу?"});
    const QStringList english = utf8List({"Scalvo", "Scalvanto", "Do you want to close program?"});

    QTest::newRow("yes ends the event loop")
        << russianConf << 0 << false << QStringLiteral("yes") << 0 << russian;
    QTest::newRow("yes with the window shown")
        << englishConf << 1 << true << QStringLiteral("yes") << 0 << english;
    QTest::newRow("no keeps running, english applied after start")
        << russianConf << 1 << false << QStringLiteral("no") << stillRunning << english;
    QTest::newRow("escape keeps running")
        << englishConf << 1 << false << QStringLiteral("escape") << stillRunning << english;
    QTest::newRow("closing the box keeps running")
        << russianConf << 0 << true << QStringLiteral("close") << stillRunning << russian;
}

void TestGravex::quitConfirmation()
{
    QFETCH(QString, startLanguage);
    QFETCH(int, languageAfterStart);
    QFETCH(bool, windowShown);
    QFETCH(QString, answer);
    QFETCH(int, exitCode);
    QFETCH(QStringList, texts);

    GravexFixture f({{QStringLiteral("Language"), startLanguage}});
    QApplication::setQuitOnLastWindowClosed(false); // as main() runs the program
    f.probe.language() = languageAfterStart;
    if (windowShown)
        f.probe.showWindow();

    const QMap<QString, ModalDriver::Answer> answers{
        {QStringLiteral("yes"), ModalDriver::press(QMessageBox::Yes)},
        {QStringLiteral("no"), ModalDriver::press(QMessageBox::No)},
        {QStringLiteral("escape"), ModalDriver::pressEscape},
        {QStringLiteral("close"), ModalDriver::closeWindow}};
    ModalDriver driver(answers.value(answer));

    // Started only once the box has closed: if the answer quit, the loop
    // has ended before this fires.
    QTimer fallback;
    fallback.setSingleShot(true);
    connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(stillRunning); });
    QTimer::singleShot(0, &f.g(), [&] {
        f.probe.quitAction()->trigger();
        fallback.start(0);
    });
    QCOMPARE(QApplication::exec(), exitCode);

    QCOMPARE(driver.boxes.size(), 1);
    const ModalDriver::Box &box = driver.boxes.first();
    QCOMPARE(QStringList({box.title, box.text, box.informativeText}), texts);
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
}

void TestGravex::textsFollowLanguageAtEveryCall()
{
    GravexFixture f;
    QCOMPARE(f.g().getAppName(true), QString::fromUtf8("Скальванто"));
    QCOMPARE(f.g().getLanguageString(0), QString::fromUtf8("Применить"));
    f.probe.language() = 1;
    QCOMPARE(f.g().getAppName(false), QStringLiteral("Scalvo"));
    QCOMPARE(f.g().getLanguageString(0), QStringLiteral("Apply"));
    f.probe.language() = 2; // anything but 0 is English
    QCOMPARE(f.g().getLanguageString(10), QStringLiteral("Options"));
    for (qint8 outside : {qint8(16), qint8(127), qint8(-1)})
        QCOMPARE(f.g().getLanguageString(outside), QString());
}

QTEST_MAIN(TestGravex)
#include "tst_gravex.moc"
