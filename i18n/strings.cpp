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

const Row phrases[phraseCount] = {
    {"Status", "Состояние"},
    {"Open data folder", "Открыть папку данных"},
    {"Reception", "Приём"},
    {"%1, open", "%1, открыт"},
    {"%1, not open: %2", "%1, не открыт: %2"},
    {"Receive buffer:", "Буфер приёма:"},
    {"%1 KiB", "%1 КиБ"},
    {"Datagrams received:", "Получено датаграмм:"},
    {"Records stored:", "Сохранено записей:"},
    {"Datagrams rejected:", "Отклонено датаграмм:"},
    {"Dropped by the system:", "Отброшено системой:"},
    {"not counted by Windows", "Windows их не считает"},
    {"Scales today", "Весы сегодня"},
    {"Counting today's files...", "Подсчёт сегодняшних файлов..."},
    {"Scale", "Весы"},
    {"Records", "Записей"},
    {"Transfers", "Передач"},
    {"Lost packets", "Потеряно пакетов"},
    {"Missing transactions", "Недостающие транзакции"},
    {"missing: %1 (%2)", "нет: %1 (%2)"},
    {"resent: %1", "повторно: %1"},
    {"Clock", "Часы"},
    {"clock %1 behind", "часы отстают на %1"},
    {"clock %1 ahead", "часы спешат на %1"},
    {"%1 h %2 min", "%1 ч %2 мин"},
    {"Today by hour", "По часам"},
    {"%1:00 %2", "%1:00 %2"},
    {"Silence", "Молчание"},
    {"silent since %1", "молчат с %1"},
    {"Last record", "Последняя запись"},
    {"Senders", "Отправители"},
    {"Address", "Адрес"},
    {"Accepted", "Принято"},
    {"Bad frame", "Неверный кадр"},
    {"Bad length", "Неверная длина"},
    {"Bad CRC", "Неверная CRC"},
    {"Not allowed", "Не разрешён"},
    {"Last seen", "Последний раз"},
    {"Recent events", "Последние события"},
    {"Time", "Время"},
    {"Event", "Событие"},
    {"%1 records in %2, scales %3", "Записей: %1 в %2, весы %3"},
    {"Allowed senders:", "Разрешённые отправители:"},
    {"Addresses and subnets such as 192.168.1.0/24, separated by spaces or commas; "
     "empty: any sender",
     "Адреса и подсети, например 192.168.1.0/24, через пробел или запятую; "
     "пусто: любой отправитель"},
    {"Not an address or subnet: %1", "Не адрес и не подсеть: %1"},
    {"The stored allowed senders are not valid (%1): every sender is accepted",
     "Сохранённый список разрешённых отправителей неверен (%1): принимаются все отправители"},
    {"Warn of a scale silent for (min):", "Предупреждать о молчании весов через (мин):"},
    {"A scale that has sent today and then stays silent this long while other scales keep "
     "sending is most likely cut off; 0: never warn",
     "Весы, которые сегодня присылали записи, а потом молчат так долго, пока другие весы "
     "присылают, скорее всего отключены; 0 — не предупреждать"},
    {"Last results %1, %2 records today", "Последние результаты %1, записей сегодня: %2"},
    {"No results today", "Сегодня результатов нет"},
    {"Day", "День"},
    {"Date:", "Дата:"},
    {"%1 records in %2 files", "Записей: %1, файлов: %2"},
    {"No folder for this day", "Папки за этот день нет"},
    {"Reading the day...", "Чтение дня..."},
    {"The data folder %1 cannot be read from this account",
     "Папку данных %1 нельзя прочитать от имени этой учётной записи"},
    {"Goods", "Товары"},
    {"First transaction", "Первая транзакция"},
    {"Last transaction", "Последняя транзакция"},
    {"Numbers not in the files", "Номеров нет в файлах"},
    {"Weight sum", "Сумма веса"},
    {"PLU", "PLU"},
    {"Lowest price", "Наименьшая цена"},
    {"Highest price", "Наибольшая цена"},
    {"Transaction number", "Номер транзакции"},
    {"Record status", "Статус записи"},
    {"Date and time", "Дата и время"},
    {"Group number", "Номер группы"},
    {"Operator number", "Номер оператора"},
    {"Price", "Цена"},
    {"Weight", "Вес"},
    {"Export...", "Экспорт..."},
    {"Export the day to a folder", "Экспорт дня в папку"},
    {"Written: %1", "Записано: %1"},
    {"Could not write %1", "Не удалось записать %1"},
    {"Only members of the group %1 may read the service's records.",
     "Читать записи службы могут только члены группы %1."},
    {"Only administrators may read the service's records: start Scalvanto as administrator to "
     "export them.",
     "Читать записи службы могут только администраторы: чтобы экспортировать их, запустите "
     "Скальванто от имени администратора."},
    {"The service that receives the weighings cannot be reached: it has stopped or does not "
     "answer.",
     "Служба, принимающая взвешивания, недоступна: она остановлена или не отвечает."},
    {"The service receives the weighings.", "Взвешивания принимает служба."},
    {"These are the options of the service that receives the weighings.",
     "Это настройки службы, принимающей взвешивания."},
    {"Only members of the group %1 may change the service's options.",
     "Изменять настройки службы могут только члены группы %1."},
    {"Only administrators may change the service's options: start Scalvanto as administrator "
     "to change them.",
     "Изменять настройки службы могут только администраторы: чтобы изменить их, запустите "
     "Скальванто от имени администратора."},
    {"Tray programs cannot reach the service at %1: %2",
     "Программы в области уведомлений не могут связаться со службой по адресу %1: %2"},
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

QString phrase(int language, Phrase which)
{
    return tr(pick(language, phrases[which].english, phrases[which].russian));
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

QString packetsLostText(int language, const QString &file, const QString &packets, bool several,
                        int count, const QString &scale)
{
    const char *text = several ? pick(language, "%1: packets %2 of %3 from scale %4 never arrived",
                                      "%1: пакеты %2 из %3 от весов %4 не пришли")
                               : pick(language, "%1: packet %2 of %3 from scale %4 never arrived",
                                      "%1: пакет %2 из %3 от весов %4 не пришёл");
    return tr(text).arg(file, packets, QString::number(count), scale);
}

QString transactionsMissingText(int language, const QString &scale, const QString &numbers,
                                bool several)
{
    const char *text = several ? pick(language, "scale %1: transactions %2 never arrived",
                                      "весы %1: транзакции %2 не пришли")
                               : pick(language, "scale %1: transaction %2 never arrived",
                                      "весы %1: транзакция %2 не пришла");
    return tr(text).arg(scale, numbers);
}

QString transactionLateText(int language, const QString &scale, qint64 number)
{
    return tr(pick(language, "scale %1: transaction %2 arrived late",
                   "весы %1: транзакция %2 пришла с опозданием"))
        .arg(scale)
        .arg(number);
}

QString renumberedText(int language, const QString &scale, qint64 number)
{
    return tr(pick(language, "scale %1 numbers its transactions anew from %2",
                   "весы %1 нумеруют транзакции заново с %2"))
        .arg(scale)
        .arg(number);
}

QString scaleSilentText(int language, const QString &scale, const QString &since, qint64 others)
{
    return tr(pick(language, "scale %1 silent since %2 while others sent %3 records",
                   "весы %1 молчат с %2, а другие прислали записей: %3"))
        .arg(scale, since)
        .arg(others);
}

QString addressChangedText(int language, const QString &old, const QString &now)
{
    return tr(pick(language,
                   "this computer's address changed from %1 to %2: scales that still send to %1 "
                   "are not heard",
                   "адрес этого компьютера сменился с %1 на %2: весы, которые шлют на %1, "
                   "не слышны"))
        .arg(old, now);
}

QString untoldText(int language, qint64 count)
{
    return tr(pick(language, "%1 more notices of what never arrived or came late were not listed",
                   "ещё %1 сообщений о том, что не пришло или пришло с опозданием, не показаны"))
        .arg(count);
}

QString packetLateText(int language, const QString &file, int packet, int count,
                       const QString &scale)
{
    return tr(pick(language, "%1: packet %2 of %3 from scale %4 arrived late",
                   "%1: пакет %2 из %3 от весов %4 пришёл с опозданием"))
        .arg(file, QString::number(packet), QString::number(count), scale);
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
