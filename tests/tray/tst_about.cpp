// The About box's rich text: bold heading, maker and project links, the Qt
// version in use and the closing trade-marks sentence, in both languages.
#include "tray/about.h"

#include <QRegularExpression>
#include <QTest>

class TestAbout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void text_data();
    void text();
};

void TestAbout::text_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("longTitle");
    QTest::addColumn<QString>("maker");
    QTest::addColumn<QString>("projectLabel");
    QTest::addColumn<QString>("ending");

    QTest::newRow("english") << 1 << QStringLiteral("Scalvanto") << QStringLiteral("Massa-K")
                             << QStringLiteral("Project page")
                             << QStringLiteral(
                                    "<br><br><br>All trade marks mentioned here, are the "
                                    "property of their appropriate owners.");
    QTest::newRow("russian") << 0 << QString::fromUtf8("Скальванто") << QString::fromUtf8("Масса-К")
                             << QString::fromUtf8("Страница проекта")
                             << QString::fromUtf8("<br><br><br>Все товарные знаки, упомянутые "
                                                  "здесь, являются собственностью их "
                                                  "соответствующих владельцев.");
}

void TestAbout::text()
{
    QFETCH(int, language);
    QFETCH(QString, longTitle);
    QFETCH(QString, maker);
    QFETCH(QString, projectLabel);
    QFETCH(QString, ending);

    const QString page = QStringLiteral("file:///opt/scalvanto/Readme.txt");
    const QString text =
        about::text(language, longTitle, QStringLiteral("1.0"), QStringLiteral("6.4.2"), page);

    QVERIFY(
        text.startsWith(QStringLiteral("<b>") + longTitle + QStringLiteral(" 1.0</b><br><br>")));
    QVERIFY(text.endsWith(ending));

    // Anchors carry a bare, unquoted address; one ending in "/" would read
    // as a self-closing tag and lose the link.
    const QRegularExpression makerLink(QStringLiteral("<a href=[^\"'\\s>]*[^\"'\\s>/]>") +
                                       QRegularExpression::escape(maker) + QStringLiteral("</a>"));
    QVERIFY2(makerLink.match(text).hasMatch(), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("<a href=file:///opt/scalvanto/Readme.txt>") +
                          projectLabel + QStringLiteral("</a>.")));
    QVERIFY(!text.contains(QStringLiteral("href=\"")));
    QVERIFY(!text.contains(QStringLiteral("href='")));
    QVERIFY(!text.contains(QRegularExpression(QStringLiteral("<a href=[^>]*/>"))));

    // The Qt actually in use, not the one the program was first written with.
    QVERIFY(text.contains(QStringLiteral("Qt 6.4.2")));
    QVERIFY(!text.contains(QStringLiteral("SDK v1.1")));
    QVERIFY(!text.contains(QStringLiteral(".dll")));
}

QTEST_GUILESS_MAIN(TestAbout)
#include "tst_about.moc"
