// The desktop entry that starts the program at login, above all the Exec
// line, whose quoting rules decide whether the program starts at all.
#include "settings/autostart.h"

#include <QRegularExpression>
#include <QTest>

class TestAutostart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void execArgument_data();
    void execArgument();
    void desktopEntry();
};

void TestAutostart::execArgument_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("exec"); // as it stands in the file

    QTest::newRow("plain path unquoted") << QStringLiteral("/usr/lib/scalvanto/Trelvant")
                                         << QStringLiteral("/usr/lib/scalvanto/Trelvant");
    QTest::newRow("blank quotes the whole path") << QStringLiteral("/opt/my scales/Trelvant")
                                                 << QStringLiteral("\"/opt/my scales/Trelvant\"");
    QTest::newRow("single quote only quoted")
        << QStringLiteral("/home/o'brien/Trelvant") << QStringLiteral("\"/home/o'brien/Trelvant\"");
    QTest::newRow("tilde only quoted")
        << QStringLiteral("/opt/~x/Trelvant") << QStringLiteral("\"/opt/~x/Trelvant\"");
    // Inside quotes $ " ` \ take a backslash, which the string escaping of
    // the value then doubles.
    QTest::newRow("dollar escaped")
        << QStringLiteral("/opt/a$b/Trelvant") << QStringLiteral("\"/opt/a\\\\$b/Trelvant\"");
    QTest::newRow("double quote escaped")
        << QStringLiteral("/opt/a\"b/Trelvant") << QStringLiteral("\"/opt/a\\\\\"b/Trelvant\"");
    QTest::newRow("backtick escaped")
        << QStringLiteral("/opt/a`b/Trelvant") << QStringLiteral("\"/opt/a\\\\`b/Trelvant\"");
    QTest::newRow("backslash is four backslashes")
        << QStringLiteral("/opt/a\\b/Trelvant") << QStringLiteral("\"/opt/a\\\\\\\\b/Trelvant\"");
    QTest::newRow("percent doubled, not quoted")
        << QStringLiteral("/opt/100%/Trelvant") << QStringLiteral("/opt/100%%/Trelvant");
    QTest::newRow("percent doubled inside quotes")
        << QStringLiteral("/opt/100% sure/Trelvant")
        << QStringLiteral("\"/opt/100%% sure/Trelvant\"");
    QTest::newRow("line break written as escape")
        << QStringLiteral("/opt/a\nb/Trelvant") << QStringLiteral("\"/opt/a\\nb/Trelvant\"");
}

void TestAutostart::execArgument()
{
    QFETCH(QString, program);
    QFETCH(QString, exec);
    QCOMPARE(AutostartEntry::execArgument(program), exec);
}

void TestAutostart::desktopEntry()
{
    const QStringList lines =
        AutostartEntry::desktopEntry(QStringLiteral("/opt/my scales/Trelvant"))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QStringLiteral("[Desktop Entry]"));
    QVERIFY(lines.contains(QStringLiteral("Type=Application")));
    QVERIFY(lines.contains(QStringLiteral("Name=Scalvanto")));
    const QStringList execLines = lines.filter(QRegularExpression(QStringLiteral("^Exec")));
    QCOMPARE(execLines, QStringList{QStringLiteral("Exec=\"/opt/my scales/Trelvant\"")});
}

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
