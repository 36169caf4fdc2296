// The images compiled into the program: each one is where the tray, the menu
// and the options window look for it, in the format and size it was drawn.

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QResource>
#include <QSize>
#include <QTest>

class TestResources : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void image_data();
    void image();
    void rootHoldsExactlyTheImages();
};

void TestResources::image_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");

    QTest::newRow("tray icon") << QStringLiteral(":/Gravex") << QByteArray("png") << QSize(32, 32);
    QTest::newRow("blinking tray icon")
        << QStringLiteral(":/NewMessage") << QByteArray("png") << QSize(32, 32);
    QTest::newRow("help sub-menu")
        << QStringLiteral(":/Info") << QByteArray("png") << QSize(16, 16);
    QTest::newRow("about Qt") << QStringLiteral(":/QtLogo") << QByteArray("jpeg")
                              << QSize(512, 512);
    QTest::newRow("about") << QStringLiteral(":/About") << QByteArray("png") << QSize(48, 48);
    QTest::newRow("license") << QStringLiteral(":/Lic") << QByteArray("png") << QSize(40, 40);
    QTest::newRow("read-me") << QStringLiteral(":/Help") << QByteArray("png") << QSize(60, 64);
    QTest::newRow("close") << QStringLiteral(":/Exit") << QByteArray("png") << QSize(32, 32);
}

void TestResources::image()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);

    const QResource resource(path);
    QVERIFY2(resource.isValid(), qPrintable(path));
    // Stored as is: the files are compressed images already.
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);

    QImageReader reader(path);
    QCOMPARE(reader.format(), format);
    QCOMPARE(reader.size(), size);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    // Icons are drawn on a transparent ground; the logo is a photo-style JPEG.
    QCOMPARE(image.hasAlphaChannel(), format == "png");
}

void TestResources::rootHoldsExactlyTheImages()
{
    QStringList expected{QStringLiteral("About"),      QStringLiteral("Exit"),
                         QStringLiteral("Gravex"),     QStringLiteral("Help"),
                         QStringLiteral("Info"),       QStringLiteral("Lic"),
                         QStringLiteral("NewMessage"), QStringLiteral("QtLogo")};
    QStringList files = QDir(QStringLiteral(":/")).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files, expected);
}

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
