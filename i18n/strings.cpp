#include "i18n/strings.h"

#include <QCoreApplication>

namespace strings {
namespace {

const char *const context = "Gravex";

struct Row
{
    const char *english;
    const char *russian;
};

// The table in index order. Entry 14 keeps its blank before the line break:
// the balloon appends the arrival time after it.
const Row table[tableSize] = {
    {"Apply", "Применить"},
    {"Close", "Закрыть"},
    {"Select...", "Обзор..."},
    {"Notify on loading of the new data from scales", "Уведомлять о загрузке новых данных с весов"},
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

QString tr(const char *text)
{
    return QCoreApplication::translate(context, text);
}

const char *pick(int language, const char *englishText, const char *russianText)
{
    return language != russian ? englishText : russianText;
}

} // namespace

QString interfaceString(int language, quint8 index)
{
    if (index >= tableSize)
        return tr("");
    return tr(pick(language, table[index].english, table[index].russian));
}

QString appName(int language, bool longTitle)
{
    if (longTitle)
        return tr(pick(language, "Scalvanto", "Скальванто"));
    return tr(pick(language, "Scalvo", "Скальво"));
}

QString saveFailedText(int language, const QString &path)
{
    return tr(pick(language, "Data could not be saved to the file:\n",
                   "Не удалось сохранить данные в файл:\n")) +
           path;
}

QString bindFailedText(int language, quint16 port, const QString &reason)
{
    return tr(pick(language, "UDP port %1 could not be opened:\n%2",
                   "Не удалось открыть UDP порт %1:\n%2"))
        .arg(port)
        .arg(reason);
}

QString invalidPortReason(int language)
{
    return tr(pick(language, "not a valid port number", "недопустимый номер порта"));
}

} // namespace strings
