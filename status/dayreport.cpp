#include "status/dayreport.h"

#include "files/datafiles.h"
#include "i18n/strings.h"
#include "status/tally.h"

#include <QCborArray>
#include <QCborValue>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

// The numbers of a record line: its transaction, PLU, price and weight.
enum Number { TransactionNumber, PluNumber, PriceNumber, WeightNumber, numberCount };

// Whether `line` is a record as the data files write it, with its fields
// and numbers.
bool record(QByteArrayView line, QByteArrayView (&fields)[fieldCount],
            qint64 (&numbers)[numberCount])
{
    if (line.isEmpty() || line.startsWith('#') || !split(line, fields) ||
        fields[ScaleField].isEmpty())
        return false;
    const Field of[numberCount] = {Transaction, Plu, Price, Weight};
    for (int n = 0; n < numberCount; ++n) {
        bool ok = false;
        numbers[n] = fields[of[n]].toLongLong(&ok);
        if (!ok)
            return false;
    }
    return true;
}

// Each line of `text`, its LF or CR LF left out; the last may lack its end.
template <typename Take> void forEachLine(QByteArrayView text, Take take)
{
    for (qsizetype start = 0, end = 0; start < text.size(); start = end + 1) {
        end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        take(line);
    }
}

// The data files of a day folder, by number.
QList<qint64> dataFileNumbers(const QDir &dir)
{
    QList<qint64> numbers;
    for (const QString &name :
         dir.entryList({QStringLiteral("data_*.txt")}, QDir::Files, QDir::Unsorted)) {
        if (const qint64 n = datafiles::numberOfDataFile(name))
            numbers << n;
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
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
    const QString dataFolder = QFileInfo(dateFolder).absolutePath();
    if (!report.found && !QDir(dataFolder).isReadable())
        report.closedFolder = QDir::toNativeSeparators(dataFolder);
    numbers = dataFileNumbers(dir);
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
    qint64 n[numberCount];
    forEachLine(text, [&](QByteArrayView line) {
        if (!record(line, fields, n))
            return;
        const qint64 transaction = n[TransactionNumber];
        const qint64 plu = n[PluNumber];
        const qint64 price = n[PriceNumber];
        const qint64 weight = n[WeightNumber];
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
    });
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

DayReport reportOf(const QByteArray &lines)
{
    DayReading reading;
    reading.report.found = true;
    reading.readLines(lines);
    reading.finish();
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
    forEachLine(lines, [&](QByteArrayView line) {
        if (!split(line, fields))
            return;
        QByteArrayList row;
        for (int f = 0; f < fieldCount; ++f)
            row << (f == ScaleField ? asText(fields[f]) : fields[f].toByteArray());
        rows << row;
    });
    return csv(
        phrases(language, {strings::TransactionNumber, strings::RecordStatus, strings::DateAndTime,
                           strings::GroupNumber, strings::Scale, strings::OperatorNumber,
                           strings::Plu, strings::Price, strings::Weight}),
        rows);
}

// A page reads at most `most` bytes of the files and a thousand files, so
// that its time is bounded whatever the files hold; a line longer than a
// page is no record, and is passed over whole.
QByteArray readRecordPage(const QString &dateFolder, DayCursor &cursor, qsizetype most)
{
    constexpr int filesPerPage = 1000;
    const qsizetype chunkSize = qMax<qsizetype>(most, 4096);
    QByteArray page;
    qsizetype taken = 0;
    int opened = 0;
    QByteArrayView fields[fieldCount];
    qint64 numbers[numberCount];
    for (const qint64 n : dataFileNumbers(QDir(dateFolder))) {
        if (n < cursor.file)
            continue;
        if (taken >= most || opened++ == filesPerPage)
            return page;
        QFile file(datafiles::dataFilePath(dateFolder, n));
        const qint64 from = n == cursor.file ? cursor.offset : 0;
        cursor = {n, from, false};
        if (!file.open(QIODevice::ReadOnly) || !file.seek(qMax<qint64>(from - 1, 0)))
            continue;
        // A page that ended inside a line (one written meanwhile, or one
        // longer than a page) goes on past its end.
        bool passingOver = from > 0 && file.read(1) != "\n";
        while (taken < most) {
            const QByteArray chunk = file.read(chunkSize);
            if (chunk.isEmpty())
                break;
            qsizetype end = chunk.lastIndexOf('\n') + 1;
            if (end == 0 && file.atEnd())
                end = chunk.size(); // a last line without its end
            forEachLine(QByteArrayView(chunk).first(end), [&](QByteArrayView line) {
                if (!std::exchange(passingOver, false) && record(line, fields, numbers))
                    page += line.toByteArray() + "\r\n";
            });
            if (end == 0) { // no line ends in a whole page
                end = chunk.size();
                passingOver = true;
            }
            cursor.offset += end;
            taken += end;
            file.seek(cursor.offset);
        }
        if (taken >= most)
            return page;
    }
    cursor.done = true;
    return page;
}

namespace {

// Raised whenever the layout below changes.
constexpr int dayLayout = 1;

} // namespace

QByteArray serializeDay(const DayReport &report)
{
    QCborArray scales;
    for (const ScaleDay &s : report.scales.first(qMin(report.scales.size(), dayScaleLimit + 1)))
        scales.append(QCborArray{s.scale.left(scaleTextKept), s.records, s.firstTransaction,
                                 s.lastTransaction, s.notFiled, s.weightSum});
    QCborArray plus;
    for (const PluDay &p : report.plus.first(qMin(report.plus.size(), dayPluLimit + 1)))
        plus.append(QCborArray{p.plu, p.records, p.weightSum, p.lowestPrice, p.highestPrice});
    return QCborValue(QCborArray{dayLayout, report.found, report.closedFolder, report.files,
                                 report.records, scales, plus})
        .toCbor();
}

bool deserializeDay(const QByteArray &bytes, DayReport *report)
{
    QCborParserError error;
    const QCborArray all = QCborValue::fromCbor(bytes, &error).toArray();
    if (error.error != QCborError::NoError || all.size() != 7 || all[0].toInteger() != dayLayout)
        return false;
    const QCborArray scales = all[5].toArray();
    const QCborArray plus = all[6].toArray();
    if (scales.size() > dayScaleLimit + 1 || plus.size() > dayPluLimit + 1)
        return false;
    DayReport read;
    read.found = all[1].toBool();
    read.closedFolder = all[2].toString();
    read.files = all[3].toInteger();
    read.records = all[4].toInteger();
    for (const QCborValue &v : scales) {
        const QCborArray a = v.toArray();
        read.scales << ScaleDay{a[0].toString().left(scaleTextKept),
                                a[1].toInteger(),
                                a[2].toInteger(),
                                a[3].toInteger(),
                                a[4].toInteger(),
                                a[5].toInteger()};
    }
    for (const QCborValue &v : plus) {
        const QCborArray a = v.toArray();
        read.plus << PluDay{a[0].toInteger(), a[1].toInteger(), a[2].toInteger(), a[3].toInteger(),
                            a[4].toInteger()};
    }
    *report = read;
    return true;
}

} // namespace status
