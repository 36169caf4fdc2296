#include "status/dayreport.h"

#include "files/datafiles.h"
#include "i18n/strings.h"
#include "status/tally.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <map>

namespace status {
namespace {

// The fields of a record line, as the data files write them.
enum Field { Transaction, Status, DateTime, Group, ScaleField, Operator, Plu, Price, Weight };
constexpr int fieldCount = 9;
// A jump in a scale's numbers up to this is numbers not filed; a larger
// one is the scale numbering anew.
constexpr qint64 longestGap = 1000;

// The nine fields of a record line, each ended by ';'; false for any other
// line.
bool split(QByteArrayView line, QByteArrayView (&fields)[fieldCount])
{
    qsizetype start = 0;
    for (int f = 0; f < fieldCount; ++f) {
        const qsizetype end = line.indexOf(';', start);
        if (end < 0)
            return false;
        fields[f] = line.sliced(start, end - start);
        start = end + 1;
    }
    return start == line.size();
}

qint64 notFiled(QList<qint64> &numbers)
{
    std::sort(numbers.begin(), numbers.end());
    qint64 n = 0;
    for (qsizetype i = 1; i < numbers.size(); ++i) {
        const qint64 jump = numbers[i] - numbers[i - 1];
        if (jump >= 2 && jump <= longestGap)
            n += jump - 1;
    }
    return n;
}

// A scale's number as a spreadsheet keeps it: a formula giving the text.
QByteArray asText(QByteArrayView scale)
{
    return "=\"" + scale.toByteArray() + '"';
}

QByteArray csv(const QStringList &header, const QList<QByteArrayList> &rows)
{
    QByteArray out("\xEF\xBB\xBF");
    out += header.join(QLatin1Char(';')).toUtf8() + "\r\n";
    for (const QByteArrayList &row : rows)
        out += row.join(';') + "\r\n";
    return out;
}

QStringList phrases(int language, std::initializer_list<strings::Phrase> which)
{
    QStringList texts;
    for (strings::Phrase p : which)
        texts << strings::phrase(language, p);
    return texts;
}

} // namespace

void DayReading::start(const QString &dateFolder, QByteArray *lines_)
{
    *this = DayReading();
    folder = dateFolder;
    lines = lines_;
    const QDir dir(dateFolder);
    report.found = dir.exists();
    for (const QString &name : dir.entryList({QStringLiteral("data_*.txt")}, QDir::Files)) {
        if (const qint64 n = datafiles::numberOfDataFile(name))
            numbers << n;
    }
    std::sort(numbers.begin(), numbers.end());
    reading = true;
}

bool DayReading::step(QDeadlineTimer deadline)
{
    while (reading && nextFile < numbers.size()) {
        QFile file(datafiles::dataFilePath(folder, numbers[nextFile++]));
        if (file.open(QIODevice::ReadOnly)) {
            ++report.files;
            readLines(file.readAll());
        }
        if (deadline.hasExpired())
            return false;
    }
    if (reading)
        finish();
    return true;
}

void DayReading::readLines(const QByteArray &text)
{
    QByteArrayView fields[fieldCount];
    for (qsizetype start = 0, end = 0; start < text.size(); start = end + 1) {
        end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QByteArrayView line = QByteArrayView(text).sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#') || !split(line, fields))
            continue;
        bool ok[4] = {};
        const qint64 transaction = fields[Transaction].toLongLong(&ok[0]);
        const qint64 plu = fields[Plu].toLongLong(&ok[1]);
        const qint64 price = fields[Price].toLongLong(&ok[2]);
        const qint64 weight = fields[Weight].toLongLong(&ok[3]);
        if (!(ok[0] && ok[1] && ok[2] && ok[3]) || fields[ScaleField].isEmpty())
            continue;
        // Records come in runs of one scale.
        if (current < 0 || fields[ScaleField] != lastScale) {
            lastScale = fields[ScaleField].toByteArray();
            auto it = scaleIndex.constFind(lastScale);
            if (it == scaleIndex.cend() && scales.size() >= dayScaleLimit)
                it = scaleIndex.constFind(othersScale.toLatin1());
            if (it == scaleIndex.cend()) {
                const QByteArray key =
                    scales.size() < dayScaleLimit ? lastScale : othersScale.toLatin1();
                it = scaleIndex.insert(key, scales.size());
                Scale scale;
                scale.day.scale = QString::fromLatin1(key);
                scale.others = key == othersScale.toLatin1();
                scale.day.firstTransaction = transaction;
                scales.append(scale);
            }
            current = *it;
        }
        Scale &scale = scales[current];
        ++scale.day.records;
        scale.day.lastTransaction = transaction;
        scale.day.weightSum += weight;
        if (kept < dayNumbersKept && !scale.others) {
            scale.numbers << transaction;
            ++kept;
        }
        auto found = plus.find(plu);
        if (found == plus.end()) {
            const qint64 row = plus.size() < size_t(dayPluLimit) ? plu : -1;
            found = plus.try_emplace(row, PluDay{row, 0, 0, price, price}).first;
        }
        PluDay &p = found->second;
        ++p.records;
        p.lowestPrice = qMin(p.lowestPrice, price);
        p.highestPrice = qMax(p.highestPrice, price);
        p.weightSum += weight;
        ++report.records;
        if (lines)
            *lines += line.toByteArray() + "\r\n";
    }
}

void DayReading::finish()
{
    reading = false;
    for (Scale &s : scales) {
        s.day.notFiled = notFiled(s.numbers);
        report.scales << s.day;
    }
    std::sort(report.scales.begin(), report.scales.end(), [](const ScaleDay &a, const ScaleDay &b) {
        return (a.scale == othersScale) != (b.scale == othersScale) ? b.scale == othersScale
                                                                    : a.scale < b.scale;
    });
    for (const auto &[plu, day] : plus)
        report.plus << day;
}

DayReport readDay(const QString &dateFolder, QByteArray *lines)
{
    DayReading reading;
    reading.start(dateFolder, lines);
    reading.step(QDeadlineTimer::Forever);
    return reading.report;
}

QByteArray scalesCsv(const DayReport &report, int language)
{
    QList<QByteArrayList> rows;
    for (const ScaleDay &s : report.scales)
        rows << QByteArrayList{s.scale == othersScale ? s.scale.toLatin1()
                                                      : asText(s.scale.toLatin1()),
                               QByteArray::number(s.records),
                               QByteArray::number(s.firstTransaction),
                               QByteArray::number(s.lastTransaction),
                               QByteArray::number(s.notFiled),
                               QByteArray::number(s.weightSum)};
    return csv(phrases(language, {strings::Scale, strings::Records, strings::FirstTransaction,
                                  strings::LastTransaction, strings::NotFiled, strings::WeightSum}),
               rows);
}

QByteArray plusCsv(const DayReport &report, int language)
{
    QList<QByteArrayList> rows;
    for (const PluDay &p : report.plus)
        rows << QByteArrayList{p.plu < 0 ? QByteArray("*") : QByteArray::number(p.plu),
                               QByteArray::number(p.records), QByteArray::number(p.weightSum),
                               QByteArray::number(p.lowestPrice),
                               QByteArray::number(p.highestPrice)};
    return csv(phrases(language, {strings::Plu, strings::Records, strings::WeightSum,
                                  strings::LowestPrice, strings::HighestPrice}),
               rows);
}

QByteArray recordsCsv(const QByteArray &lines, int language)
{
    QList<QByteArrayList> rows;
    QByteArrayView fields[fieldCount];
    for (qsizetype start = 0, end = 0; start < lines.size(); start = end + 2) {
        end = lines.indexOf("\r\n", start);
        if (end < 0)
            end = lines.size();
        if (!split(QByteArrayView(lines).sliced(start, end - start), fields))
            continue;
        QByteArrayList row;
        for (int f = 0; f < fieldCount; ++f)
            row << (f == ScaleField ? asText(fields[f]) : fields[f].toByteArray());
        rows << row;
    }
    return csv(
        phrases(language, {strings::TransactionNumber, strings::RecordStatus, strings::DateAndTime,
                           strings::GroupNumber, strings::Scale, strings::OperatorNumber,
                           strings::Plu, strings::Price, strings::Weight}),
        rows);
}

} // namespace status
