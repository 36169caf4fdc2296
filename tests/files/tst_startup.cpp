// The options read at start-up that decide where the data files go, which
// port they come from and in which language their header is written.
#include "sandbox.h"

#include <QFileInfo>

using namespace sandbox;

namespace {

QString defaultFolder(const Sandbox &sb)
{
    return QDir::toNativeSeparators(sb.home.path()) + QDir::separator() +
           QLatin1String("WeightData");
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void noStoreGivesDefaults();
    void emptyFilePathFallsBack();
    void language_data();
    void language();
    void port_data();
    void port();
};

void TestStartup::noStoreGivesDefaults()
{
    Sandbox sb;
    sb.launch({});
    GravexProbe &p = *sb.probe;

    QCOMPARE(p.filePath(), defaultFolder(sb));
    QVERIFY(QFileInfo(sb.home.path() + QLatin1String("/WeightData/") + today()).isDir());
    QCOMPARE(p.udpPort(), quint16(5001));
    QCOMPARE(p.showTrayMessage(), true);
    QCOMPARE(p.autoLoad(), true);
    QCOMPARE(p.debug(), false);
    QCOMPARE(p.language(), 0);
    QCOMPARE(p.loadedLanguage(), 0);

    sb.gravex.reset();
    QVERIFY(!QFileInfo::exists(storeFile())); // loading writes nothing back
}

void TestStartup::emptyFilePathFallsBack()
{
    Sandbox sb;
    sb.start({{QStringLiteral("FilePath"), QString()}});

    QCOMPARE(sb.probe->filePath(), defaultFolder(sb));
    QVERIFY(QFileInfo(sb.home.path() + QLatin1String("/WeightData")).isDir());
}

// Only the exact word Russian gives the Russian header.
void TestStartup::language_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("language");

    QTest::newRow("Russian") << QStringLiteral("Russian") << 0;
    QTest::newRow("English") << QStringLiteral("English") << 1;
    QTest::newRow("english") << QStringLiteral("english") << 1;
    QTest::newRow("RUSSIAN") << QStringLiteral("RUSSIAN") << 1;
    QTest::newRow("Deutsch") << QStringLiteral("Deutsch") << 1;
    QTest::newRow("empty text") << QString() << 1;
}

void TestStartup::language()
{
    QFETCH(QString, stored);
    QFETCH(int, language);
    Sandbox sb;

    sb.start({{QStringLiteral("Language"), stored}});

    QCOMPARE(sb.probe->language(), language);
    QCOMPARE(sb.probe->loadedLanguage(), language);
}

void TestStartup::port_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<quint16>("port");

    QTest::newRow("65535 stays unsigned") << QStringLiteral("65535") << quint16(65535);
    QTest::newRow("40000 stays unsigned") << QStringLiteral("40000") << quint16(40000);
    QTest::newRow("70000 keeps the low 16 bits") << QStringLiteral("70000") << quint16(4464);
}

void TestStartup::port()
{
    QFETCH(QString, stored);
    QFETCH(quint16, port);
    Sandbox sb;

    sb.start({{QStringLiteral("UdpPort"), stored}});

    QCOMPARE(sb.probe->udpPort(), port);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
