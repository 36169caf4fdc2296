#pragma once

#include <QByteArray>
#include <QDate>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QString>

#include <map>

// A day as its data files hold it, to be held beside the day reports the
// scales print: per scale and per PLU, the figures as sent (raw integers,
// since their units are the scale's), and the records themselves for a
// spreadsheet.
namespace status {

// However many scales and PLUs a day's files name (a stranger's made-up
// records), the report keeps this many of each, those met first; the others
// go together into one row, its scale "*" or its PLU -1.
constexpr int dayScaleLimit = 1000;
constexpr int dayPluLimit = 10000;
// Transaction numbers kept to find those not in the files, of all scales.
constexpr qsizetype dayNumbersKept = 4'000'000;

struct ScaleDay
{
    QString scale; // as written (00017)
    qint64 records = 0;
    qint64 firstTransaction = 0; // in the order the files hold them
    qint64 lastTransaction = 0;
    // Numbers between those filed, a jump of at most 1,000 (a larger one, or
    // one back, is the scale numbering anew). Records of PLU 0 are never
    // filed: their numbers are among these.
    qint64 notFiled = 0;
    qint64 weightSum = 0;
};

struct PluDay
{
    qint64 plu = 0; // -1: the others
    qint64 records = 0;
    qint64 weightSum = 0;
    qint64 lowestPrice = 0; // the price as sent; two when it changed
    qint64 highestPrice = 0;
};

struct DayReport
{
    bool found = false; // the day has a folder
    // Not found, and the data folder cannot be read from this account: not
    // a day without records. The data folder, as the user reads it.
    QString closedFolder;
    qint64 files = 0;
    qint64 records = 0;
    QList<ScaleDay> scales; // by scale
    QList<PluDay> plus;     // by PLU
};

// Reads a day a file at a time, so that a window reading it stays answering
// (DayReading::step from a timer).
class DayReading
{
public:
    // Every data_N.txt of `dateFolder`, by number; lines that are not
    // records are passed over. `lines`, when given, gets the record lines.
    void start(const QString &dateFolder, QByteArray *lines = nullptr);
    // Reads until `deadline` has passed; true once the whole day is read.
    bool step(QDeadlineTimer deadline);
    bool running() const { return reading; }
    // Whole once step() said so.
    DayReport report;

private:
    friend DayReport reportOf(const QByteArray &lines);
    struct Scale
    {
        ScaleDay day;
        QList<qint64> numbers;
        bool others = false; // the row of the scales beyond the limit
    };
    void readLines(const QByteArray &text);
    void finish();

    QString folder;
    QByteArray *lines = nullptr;
    QList<qint64> numbers; // of the files
    qsizetype nextFile = 0;
    bool reading = false;
    QHash<QByteArray, qsizetype> scaleIndex;
    QList<Scale> scales;
    std::map<qint64, PluDay> plus;
    QByteArray lastScale;
    qsizetype current = -1; // the scale of the record before
    qsizetype kept = 0;     // transaction numbers
};

// A day as a window asked for it: the figures, and the records when asked
// for (for an export).
struct DayAnswer
{
    QDate date;
    DayReport report;
    bool withRecords = false;
    QByteArray records; // the record lines, each ending in CR LF
    // The records were refused: who may read them (the service's).
    QString whoMayRead;
    bool unreachable = false; // the service could not be asked
};

// Where reading a day's records in pages has come to: the data file and
// the byte in it.
struct DayCursor
{
    qint64 file = 0;
    qint64 offset = 0;
    bool done = false;
};

// The record lines from `cursor` on, whole lines of some `most` bytes, and
// the cursor moved past them; done after the last file. Nothing is kept
// between pages: another reader may read other pages meanwhile.
QByteArray readRecordPage(const QString &dateFolder, DayCursor &cursor, qsizetype most);

// The figures of a report for another process, in at most largestDay
// bytes (the rows are bounded, a scale's text is cut to scaleTextKept);
// false for bytes that are not such figures.
QByteArray serializeDay(const DayReport &report);
bool deserializeDay(const QByteArray &bytes, DayReport *report);
constexpr qsizetype scaleTextKept = 32;
constexpr qsizetype largestDay = 768 * 1024;

// Every data_N.txt of `dateFolder`, by number; lines that are not records
// (the header, a line cut short by a full disk) are passed over. `lines`,
// when given, gets the record lines as they stand, each ending in CR LF.
DayReport readDay(const QString &dateFolder, QByteArray *lines = nullptr);
// The figures of record lines as readDay() gives them (files: 0), so that
// an export's figures add up to its records, read a moment later.
DayReport reportOf(const QByteArray &lines);

// What a spreadsheet opens as it is: UTF-8 with a byte-order mark, fields
// separated by ';', one header row in the interface's language, each line
// ending in CR LF; a scale's number is a text ("00017" stays 00017), the
// others' row "*".
QByteArray scalesCsv(const DayReport &report, int language);
QByteArray plusCsv(const DayReport &report, int language);
// The record lines of readDay() with a header row; the date stays as the
// scale sent it.
QByteArray recordsCsv(const QByteArray &lines, int language);

} // namespace status
