// The interface texts of both languages, the product titles and the two
// warnings, against the texts the user is meant to read.
#include "i18n/strings.h"

#include <QTest>

class TestStrings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void table_data();
    void table();
    void indexOutsideTableIsEmpty_data();
    void indexOutsideTableIsEmpty();
    void russianIsCyrillicNotLatin1Bytes();
    void appName_data();
    void appName();
    void warnings();
};

void TestStrings::table_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("russian");

    // Entry 9 is two lines; entry 14 ends with a blank and a line break,
    // after which the balloon puts the arrival time.
    const char *rows[][2] = {
        {"Apply", "Применить"},
        {"Close", "Закрыть"},
        {"Select...", "Обзор..."},
        {"Notify on loading of the new data from scales",
         "Уведомлять о загрузке новых данных с весов"},
        {"Auto start on login", "Запускать при входе в систему"},
        {"Language:", "Язык:"},
        {"Folder of recived messages:", "Каталог полученных сообщений:"},
        {"UDP port:", "UDP порт:"},
        {"Do you want to close program?", "Вы хотите закрыть программу?"},
        {"Interface language is changed.\nProgram restart is necessary!",
         "Изменен язык интерфейса.\nНеобходим перезапуск программы!"},
        {"Options", "Настройки"},
        {"About", "О программе"},
        {"License", "Лицензионное соглашение"},
        {"Help", "Справка"},
        {"New results of weighing have arrived \n", "Поступили новые результаты взвешивания \n"},
        {"Save debug messages", "Сохранять отладочные сообщения"},
    };
    int index = 0;
    for (const auto &row : rows) {
        QTest::addRow("entry %d", index)
            << index << QString::fromUtf8(row[0]) << QString::fromUtf8(row[1]);
        ++index;
    }
    QCOMPARE(index, strings::tableSize);
}

void TestStrings::table()
{
    QFETCH(int, index);
    QFETCH(QString, english);
    QFETCH(QString, russian);

    QCOMPARE(strings::interfaceString(strings::english, quint8(index)), english);
    QCOMPARE(strings::interfaceString(strings::russian, quint8(index)), russian);
    // Any language other than 0 is English.
    QCOMPARE(strings::interfaceString(7, quint8(index)), english);
}

void TestStrings::indexOutsideTableIsEmpty_data()
{
    QTest::addColumn<qint8>("index");
    QTest::newRow("first past the end") << qint8(16);
    QTest::newRow("largest signed") << qint8(127);
    QTest::newRow("minus one is 255") << qint8(-1);
    QTest::newRow("most negative") << qint8(-128);
}

void TestStrings::indexOutsideTableIsEmpty()
{
    QFETCH(qint8, index);
    // The main object hands its signed index over as a byte.
    QCOMPARE(strings::interfaceString(strings::english, quint8(index)), QString());
    QCOMPARE(strings::interfaceString(strings::russian, quint8(index)), QString());
}

void TestStrings::russianIsCyrillicNotLatin1Bytes()
{
    const QString apply = strings::interfaceString(strings::russian, 0);
    QCOMPARE(apply.size(), 9);
    QCOMPARE(apply, QString::fromUtf8("Применить"));
    QCOMPARE(apply.at(0), QChar(0x041F)); // CYRILLIC CAPITAL LETTER PE
}

void TestStrings::appName_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<bool>("longTitle");
    QTest::addColumn<QString>("expected");

    QTest::newRow("english long") << strings::english << true << QStringLiteral("Scalvanto");
    QTest::newRow("english short") << strings::english << false << QStringLiteral("Scalvo");
    QTest::newRow("russian long") << strings::russian << true << QString::fromUtf8("Скальванто");
    QTest::newRow("russian short") << strings::russian << false << QString::fromUtf8("Скальво");
    QTest::newRow("language 2 is english") << 2 << true << QStringLiteral("Scalvanto");
}

void TestStrings::appName()
{
    QFETCH(int, language);
    QFETCH(bool, longTitle);
    QFETCH(QString, expected);
    QCOMPARE(strings::appName(language, longTitle), expected);
}

void TestStrings::warnings()
{
    const QString path = QStringLiteral("/srv/scales/01.02.2024/data_3.txt");
    QCOMPARE(
        strings::saveFailedText(strings::english, path),
        QStringLiteral("Data could not be saved to the file:\n/srv/scales/01.02.2024/data_3.txt"));
    QCOMPARE(strings::saveFailedText(strings::russian, path),
             QString::fromUtf8(
                 "Не удалось сохранить данные в файл:\n/srv/scales/01.02.2024/data_3.txt"));

    const QString reason = QStringLiteral("Address in use");
    QCOMPARE(strings::bindFailedText(strings::english, 65535, reason),
             QStringLiteral("UDP port 65535 could not be opened:\nAddress in use"));
    QCOMPARE(strings::bindFailedText(strings::russian, 5001, reason),
             QString::fromUtf8("Не удалось открыть UDP порт 5001:\nAddress in use"));
}

QTEST_GUILESS_MAIN(TestStrings)
#include "tst_strings.moc"
