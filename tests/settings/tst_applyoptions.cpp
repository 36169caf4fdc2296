// Apply: the options window's values become the options, are stored, the
// language change is announced once, start at login follows the switch and
// the socket listens on the new port.
#include "gravexfixture.h"
#include "modaldriver.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

namespace {
const QString confLanguage = QStringLiteral("Language");

// One On-Line transfer of one record, CRC included (the spaces are skipped).
const QByteArray workedExample =
    QByteArray::fromHex("F8 55 CE 3A 00 02 08 01 00 01 00 32 00 D2 04 00"
                        "00 00 00 00 00 0B 0C 05 0E 03 09 02 00 00 00 00"
                        "00 00 01 07 03 69 00 00 00 EE 11 00 00 E2 04 00"
                        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 9C"
                        "A3");

// A port nobody listens on right now.
quint16 freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// The options file as the program left it on disk.
QStringList storedLines(GravexFixture &f)
{
    f.probe.settings()->sync();
    return TestHome::lines(f.home.confPath());
}

bool anyDataFileUnder(const QString &folder)
{
    QDirIterator it(folder, {QStringLiteral("data_*.txt")}, QDir::Files,
                    QDirIterator::Subdirectories);
    return it.hasNext();
}
} // namespace

class TestApplyOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void languageNotice_data();
    void languageNotice();
    void storedValues_data();
    void storedValues();
    void port_data();
    void port();
    void folderField_data();
    void folderField();
    void autostartFollowsSwitch();
    void socketListensOnNewPort();
};

void TestApplyOptions::languageNotice_data()
{
    QTest::addColumn<QString>("startLanguage");
    QTest::addColumn<QList<int>>("choices");  // language box index at each Apply
    QTest::addColumn<QStringList>("notices"); // "title|text" of each box shown

    const QString english =
        QStringLiteral("Scalvanto|Interface language is changed.\nProgram restart is necessary!");
    const QString russian =
        QString::fromUtf8("Скальванто|Изменен язык интерфейса.\nНеобходим перезапуск программы!");

    QTest::newRow("russian kept") << QStringLiteral("Russian") << QList<int>{0, 0} << QStringList();
    QTest::newRow("english kept") << QStringLiteral("English") << QList<int>{1} << QStringList();
    QTest::newRow("to english once, then back")
        << QStringLiteral("Russian") << QList<int>{1, 1, 0} << QStringList{english, russian};
    QTest::newRow("english to russian")
        << QStringLiteral("English") << QList<int>{0, 0} << QStringList{russian};
}

void TestApplyOptions::languageNotice()
{
    QFETCH(QString, startLanguage);
    QFETCH(QList<int>, choices);
    QFETCH(QStringList, notices);

    GravexFixture f({{confLanguage, startLanguage}});
    const QString applyText = f.probe.applyButton()->text();
    ModalDriver driver(ModalDriver::press(QMessageBox::Ok));
    for (int choice : choices) {
        f.probe.languageBox()->setCurrentIndex(choice);
        f.probe.applyButton()->click();
        QCOMPARE(f.probe.language(), choice);
        QCOMPARE(f.probe.loadedLanguage(), choice);
    }

    QStringList shown;
    for (const ModalDriver::Box &box : driver.boxes) {
        shown << box.title + QLatin1Char('|') + box.text;
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
    QCOMPARE(shown, notices);
    // The window keeps the language it was built in until the next start.
    QCOMPARE(f.probe.applyButton()->text(), applyText);
}

void TestApplyOptions::storedValues_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QList<bool>>("switches"); // balloon, autostart, debug
    QTest::addColumn<int>("languageIndex");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("everything changed")
        << QStringLiteral("40000") << QList<bool>{false, false, true} << 1
        << QStringList{QStringLiteral("UdpPort=40000"), QStringLiteral("ShowTrayMessage=false"),
                       QStringLiteral("AutoLoad=false"), QStringLiteral("Debug=true"),
                       QStringLiteral("Language=English")};
    QTest::newRow("defaults, highest port")
        << QStringLiteral("65535") << QList<bool>{true, true, false} << 0
        << QStringList{QStringLiteral("UdpPort=65535"), QStringLiteral("ShowTrayMessage=true"),
                       QStringLiteral("AutoLoad=true"), QStringLiteral("Debug=false"),
                       QStringLiteral("Language=Russian")};
}

void TestApplyOptions::storedValues()
{
    QFETCH(QString, port);
    QFETCH(QList<bool>, switches);
    QFETCH(int, languageIndex);
    QFETCH(QStringList, lines);

    GravexFixture f;
    GravexProbe &p = f.probe;
    p.portEdit()->setText(port);
    p.showTrayMessageCheck()->setChecked(switches.at(0));
    p.autoLoadCheck()->setChecked(switches.at(1));
    p.debugCheck()->setChecked(switches.at(2));
    p.languageBox()->setCurrentIndex(languageIndex);
    ModalDriver driver;
    p.applyOptions();

    QCOMPARE(QList<bool>({p.showTrayMessage(), p.autoLoad(), p.debug()}), switches);
    const QStringList stored = storedLines(f);
    QCOMPARE(stored.value(0), QStringLiteral("[General]"));
    QVERIFY(stored.contains(QStringLiteral("FilePath=") + f.home.dataFolder()));
    for (const QString &line : lines)
        QVERIFY2(stored.contains(line),
                 qPrintable(line + QLatin1String(" in ") + stored.join(u' ')));
}

void TestApplyOptions::port_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("port");
    QTest::newRow("empty field is port 0") << QString() << 0;
    QTest::newRow("70000 keeps low 16 bits") << QStringLiteral("70000") << 4464;
    QTest::newRow("highest port") << QStringLiteral("65535") << 65535;
    QTest::newRow("above signed 16 bits") << QStringLiteral("40000") << 40000;
}

void TestApplyOptions::port()
{
    QFETCH(QString, typed);
    QFETCH(int, port);

    GravexFixture f;
    f.probe.portEdit()->setText(typed);
    QCOMPARE(f.probe.portEdit()->text(), typed); // the mask lets it through
    f.probe.applyOptions();

    QCOMPARE(int(f.probe.udpPort()), port);
    QVERIFY(storedLines(f).contains(QStringLiteral("UdpPort=%1").arg(port)));
    QUdpSocket *socket = f.probe.udpSocket();
    QCOMPARE(socket->state(), QAbstractSocket::BoundState);
    if (port != 0)
        QCOMPARE(int(socket->localPort()), port);
}

void TestApplyOptions::folderField_data()
{
    QTest::addColumn<QString>("typed"); // empty: field emptied
    QTest::addColumn<bool>("relative"); // else under the home folder
    QTest::addColumn<bool>("becomesDataFolder");
    QTest::addColumn<bool>("fieldReverts");

    QTest::newRow("other existing folder") << QStringLiteral("existing") << false << false << false;
    QTest::newRow("missing folder, existing parent")
        << QStringLiteral("new") << false << true << false;
    QTest::newRow("missing parent") << QStringLiteral("missing/new") << false << false << true;
    QTest::newRow("empty field") << QString() << false << false << false;
    QTest::newRow("relative missing folder refused")
        << QStringLiteral("new") << true << false << true;
}

void TestApplyOptions::folderField()
{
    QFETCH(QString, typed);
    QFETCH(bool, relative);
    QFETCH(bool, becomesDataFolder);
    QFETCH(bool, fieldReverts);

    GravexFixture f;
    QVERIFY(QDir().mkpath(f.home.path(QStringLiteral("existing"))));
    // A relative name would be taken from the working folder: keep it in the home.
    const QString workingFolder = QDir::currentPath();
    const auto restore = qScopeGuard([&] { QDir::setCurrent(workingFolder); });
    QVERIFY(QDir::setCurrent(f.home.path(QStringLiteral("existing"))));
    const QString field = typed.isEmpty() || relative ? typed : f.home.path(typed);
    f.probe.folderEdit()->setText(field);
    f.probe.applyOptions();

    const QString dataFolder = becomesDataFolder ? field : f.home.dataFolder();
    QCOMPARE(f.probe.filePath(), dataFolder);
    QCOMPARE(f.probe.folderEdit()->text(), fieldReverts ? f.home.dataFolder() : field);
    QVERIFY(storedLines(f).contains(QStringLiteral("FilePath=") + dataFolder));
    if (becomesDataFolder)
        QVERIFY(QFileInfo(field).isDir());
    if (fieldReverts)
        QVERIFY(!QFileInfo::exists(field));
}

void TestApplyOptions::autostartFollowsSwitch()
{
    GravexFixture f;
    const QString entry = f.home.autostartPath();
    const QString program = QCoreApplication::applicationFilePath();
    QVERIFY(QFileInfo(program).isAbsolute());
    // Written only by Apply, although the switch is on from the start.
    QVERIFY(f.probe.autoLoad());
    QVERIFY(!QFileInfo::exists(entry));

    f.probe.applyOptions();
    const QStringList lines = TestHome::lines(entry);
    QCOMPARE(lines.value(0), QStringLiteral("[Desktop Entry]"));
    QVERIFY(lines.contains(QStringLiteral("Type=Application")));
    if (program.contains(QRegularExpression(QStringLiteral("[\\s\"'\\\\<>~|&;$*?#()`%]"))))
        QSKIP("this build's path needs quoting, which tst_autostart covers");
    QVERIFY(lines.contains(QStringLiteral("Exec=") + program));

    f.probe.autoLoadCheck()->setChecked(false);
    f.probe.applyOptions();
    QVERIFY(!QFileInfo::exists(entry));
    f.probe.applyOptions(); // removing it again is harmless
    QVERIFY(!QFileInfo::exists(entry));

    f.probe.autoLoadCheck()->setChecked(true);
    f.probe.applyOptions();
    QVERIFY(QFileInfo::exists(entry));
}

void TestApplyOptions::socketListensOnNewPort()
{
    GravexFixture f;
    const quint16 port = freePort();
    QVERIFY(port != 0);
    f.probe.portEdit()->setText(QString::number(port));
    f.probe.applyOptions();
    QCOMPARE(f.probe.udpSocket()->localPort(), port);
    QVERIFY(!anyDataFileUnder(f.home.dataFolder()));

    QUdpSocket scale;
    QCOMPARE(scale.writeDatagram(workedExample, QHostAddress::LocalHost, port),
             qint64(workedExample.size()));
    QTRY_VERIFY(anyDataFileUnder(f.home.dataFolder()));
}

QTEST_MAIN(TestApplyOptions)
#include "tst_applyoptions.moc"
