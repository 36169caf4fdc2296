#include "files/datafiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryFile>

#include <limits>

namespace datafiles {
namespace {

const char *const lineEnd = "\r\n";

QString numberedFile(const QString &dateFolder, const char *stem, qint64 number)
{
    return dateFolder + QDir::separator() + QLatin1String(stem) + QString::number(number) +
           QLatin1String(".txt");
}

// The header lines in the order of the record's fields.
const char *const englishHeader[] = {
    "# Format of the data in message transfered by scales Massa-K in mode On-Line",
    "",
    "# Transaction number",
    "# Record status",
    "# Transaction date and time",
    "# Group number",
    "# Number of scales",
    "# Operator number",
    "# PLU of the goods",
    "# Goods price",
    "# Weight of the goods",
    "",
    "",
};

const char *const russianHeader[] = {
    "# Формат данных в сообщениях передаваемых весами Масса-К в режиме On-Line",
    "",
    "# Номер транзакции",
    "# Статус записи",
    "# Дата и время  транзакции",
    "# Групповой номер",
    "# Номер весов",
    "# Номер оператора",
    "# PLU товара",
    "# Цена товара",
    "# Масса товара",
    "",
    "",
};

} // namespace

QString dateFolderName(const QDate &date)
{
    return date.toString(QStringLiteral("dd.MM.yyyy"));
}

QString dateFolderPath(const QString &dataFolder, const QDate &date)
{
    const QChar separator = QDir::separator();
    QString path = dataFolder;
    if (!path.endsWith(separator))
        path += separator;
    return path + dateFolderName(date);
}

QString dataFilePath(const QString &dateFolder, qint64 number)
{
    return numberedFile(dateFolder, "data_", number);
}

QString debugFilePath(const QString &dateFolder, qint64 number)
{
    return numberedFile(dateFolder, "debug_", number);
}

qint32 numberInFileName(const QString &fileName)
{
    qint64 value = 0; // a name without digits has the number 0
    for (QChar c : fileName) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            continue;
        value = value * 10 + (c.unicode() - '0');
        if (value > std::numeric_limits<qint32>::max())
            return 0;
    }
    return qint32(value);
}

qint64 nextFileNumber(const QString &dateFolder)
{
    qint32 highest = 0;
    const QStringList names = QDir(dateFolder).entryList(QDir::Files, QDir::NoSort);
    for (const QString &name : names)
        highest = qMax(highest, numberInFileName(name));
    return qint64(highest) + 1;
}

qint64 numberOfDataFile(const QString &fileName)
{
    const QLatin1String stem("data_"), suffix(".txt");
    if (!fileName.startsWith(stem) || !fileName.endsWith(suffix))
        return 0;
    bool ok = false;
    const qint64 n = QStringView(fileName)
                         .sliced(stem.size(), fileName.size() - stem.size() - suffix.size())
                         .toLongLong(&ok);
    // Only the name the number is written as takes it: data_007.txt leaves 7 free.
    return ok && n > 0 && fileName == stem + QString::number(n) + suffix ? n : 0;
}

qint64 firstFreeFileNumber(const QString &dateFolder, qint64 from)
{
    if (!QFileInfo::exists(dataFilePath(dateFolder, from)))
        return from;
    QSet<qint64> taken;
    const QStringList names =
        QDir(dateFolder).entryList({QStringLiteral("data_*.txt")}, QDir::Files);
    for (const QString &name : names)
        taken.insert(numberOfDataFile(name)); // 0, never `from`, for names of no number
    while (taken.contains(from))
        ++from;
    return from;
}

bool isWritableFolder(const QString &folder)
{
    QTemporaryFile probe(folder + QLatin1String("/.trelvant-XXXXXX"));
    return QFileInfo(folder).isDir() && probe.open();
}

QString header(int language)
{
    const char *const *lines = language != 0 ? englishHeader : russianHeader;
    QString text;
    for (int i = 0; i < 13; ++i)
        text += QCoreApplication::translate("Gravex", lines[i]) + QLatin1String(lineEnd);
    return text;
}

bool TodaysFolder::update(const QString &dataFolder_, qint64 nowMs)
{
    constexpr qint64 recheckMs = 60 * 1000;
    if (nowMs >= validFromMs && nowMs < validUntilMs && dataFolder_ == dataFolder)
        return false;
    const QDate today = QDateTime::fromMSecsSinceEpoch(nowMs).date();
    const QString previous = folder;
    dataFolder = dataFolder_;
    folder = dateFolderPath(dataFolder, today);
    validFromMs = today.startOfDay().toMSecsSinceEpoch();
    validUntilMs = qMin(today.addDays(1).startOfDay().toMSecsSinceEpoch(), nowMs + recheckMs);
    return folder != previous;
}

void writeDebugDump(QFile &file, const QString &path, const QByteArray &datagram)
{
    file.setFileName(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(datagram);
        file.close();
    }
}

void HeldDebugDump::hold(QFile &file, const QString &path_, const QByteArray &datagram_)
{
    if (path_ != path)
        write(file);
    path = path_;
    // A copy of its own: the datagram may live in the receiver's buffer.
    datagram = QByteArray(datagram_.constData(), datagram_.size());
}

void HeldDebugDump::write(QFile &file)
{
    if (path.isEmpty())
        return;
    writeDebugDump(file, path, datagram);
    path.clear();
}

} // namespace datafiles
