// The interface texts of both languages, the product titles and the two
// warnings, against the texts the user is meant to read.
#include "i18n/strings.h"

#include <QTest>

class TestStrings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void table_data()
    {
        QTest::addColumn<int>("index"); // as the main object's signed byte
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
            {"New results of weighing have arrived \n",
             "Поступили новые результаты взвешивания \n"},
            {"Save debug messages", "Сохранять отладочные сообщения"},
        };
        for (int index = 0; index < 16; ++index)
            QTest::addRow("entry %d", index) << index << rows[index][0] << rows[index][1];
        for (int outside : {16, 127, -1, -128})
            QTest::addRow("outside, %d", outside) << outside << QString() << QString();
    }
    void table()
    {
        QFETCH(int, index);
        QFETCH(QString, english);
        QFETCH(QString, russian);
        const quint8 byte = quint8(qint8(index));
        QCOMPARE(strings::interfaceString(strings::english, byte), english);
        QCOMPARE(strings::interfaceString(strings::russian, byte), russian);
        QCOMPARE(strings::interfaceString(7, byte), english); // any language but 0
    }

    void titlesAndWarnings()
    {
        using namespace strings;
        QCOMPARE(QStringList({appName(english, true), appName(english, false),
                              appName(russian, true), appName(russian, false), appName(2, true)}),
                 QStringList({"Scalvanto", "Scalvo", "Скальванто", "Скальво", "Scalvanto"}));
        const QString path = "/srv/scales/01.02.2024/data_3.txt";
        QCOMPARE(QStringList({saveFailedText(english, path), saveFailedText(russian, path),
                              bindFailedText(english, 65535, "Address in use"),
                              bindFailedText(russian, 5001, "Address in use")}),
                 QStringList({"Data could not be saved to the file:\n" + path,
                              "Не удалось сохранить данные в файл:\n" + path,
                              "UDP port 65535 could not be opened:\nAddress in use",
                              "Не удалось открыть UDP порт 5001:\nAddress in use"}));
    }
};

QTEST_GUILESS_MAIN(TestStrings)
#include "tst_strings.moc"
