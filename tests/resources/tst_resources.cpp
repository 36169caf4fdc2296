// The images compiled into the program: each one is where the tray, the menu
// and the About box look for it, in the format and size it was drawn.
#include <QImageReader>
#include <QTest>

class TestResources : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void image_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QSize>("size");
        QTest::newRow("tray icon") << ":/Gravex" << QByteArray("png") << QSize(32, 32);
        QTest::newRow("blinking tray icon") << ":/NewMessage" << QByteArray("png") << QSize(32, 32);
        QTest::newRow("help sub-menu") << ":/Info" << QByteArray("png") << QSize(16, 16);
        QTest::newRow("about Qt") << ":/QtLogo" << QByteArray("jpeg") << QSize(512, 512);
        QTest::newRow("about") << ":/About" << QByteArray("png") << QSize(48, 48);
        QTest::newRow("license") << ":/Lic" << QByteArray("png") << QSize(40, 40);
        QTest::newRow("read-me") << ":/Help" << QByteArray("png") << QSize(60, 64);
        QTest::newRow("close") << ":/Exit" << QByteArray("png") << QSize(32, 32);
    }
    void image()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, format);
        QFETCH(QSize, size);
        QImageReader reader(path);
        QCOMPARE(reader.format(), format);
        QCOMPARE(reader.read().size(), size);
    }
};

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
