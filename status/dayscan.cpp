#include "status/dayscan.h"

#include "files/datafiles.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFile>

#include <algorithm>

namespace status {

DayScan::DayScan() = default;
DayScan::~DayScan() = default;

void DayScan::start(const QString &folder_)
{
    folder = folder_;
    files = std::make_unique<QDirIterator>(folder, QStringList{QStringLiteral("data_*.txt")},
                                           QDir::Files);
    skipped.clear();
    file.reset();
    counted.clear();
}

void DayScan::skip(const QString &folder_, qint64 number)
{
    if (running() && folder_ == folder)
        skipped.insert(number);
}

bool DayScan::step(const QDeadlineTimer &deadline)
{
    while (files) {
        if (!file && !nextFile()) {
            files.reset();
            keepBusiest(counted, Tally::scaleLimit);
            return true;
        }
        countPiece();
        if (deadline.hasExpired())
            return false;
    }
    return true;
}

bool DayScan::nextFile()
{
    while (files->hasNext()) {
        files->next();
        const qint64 number = datafiles::numberOfDataFile(files->fileName());
        if (number <= 0 || skipped.contains(number))
            continue;
        file = std::make_unique<QFile>(files->filePath());
        if (!file->open(QIODevice::ReadOnly)) {
            file.reset();
            continue;
        }
        fileNumber = number;
        modifiedMs = file->fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
        partial.clear();
        inFile.clear();
        return true;
    }
    return false;
}

// The whole lines of the next piece are counted; the rest waits for the
// piece after it, or, at the end of the file, is a line without its end.
void DayScan::countPiece()
{
    const QByteArray piece = file->read(pieceBytes);
    const bool end = piece.isEmpty();
    partial += piece;
    const qsizetype whole = end ? partial.size() : partial.lastIndexOf('\n') + 1;
    countLines(QByteArrayView(partial).first(whole), fileNumber, modifiedMs, inFile, counted);
    partial.remove(0, whole);
    if (partial.size() > pieceBytes) // no record is that long
        partial.clear();
    if (end)
        file.reset();
    if (counted.size() > 2 * Tally::scaleLimit)
        keepBusiest(counted, Tally::scaleLimit);
}

// Record lines are nine fields, each ending in ';'; the first is the
// transaction number, the fifth the scale.
// The header's lines start with '#' or are empty.
void DayScan::countLines(QByteArrayView text, qint64 fileNumber, qint64 modifiedMs,
                         QSet<QString> &inFile, DayCounts &counts)
{
    // A file is written as its transfer arrives: its records count under
    // the hour it was last written.
    const int hour = modifiedMs > 0 ? QDateTime::fromMSecsSinceEpoch(modifiedMs).time().hour() : 0;
    for (qsizetype start = 0, end = 0; start < text.size(); start = end + 1) {
        end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QByteArrayView line = text.sliced(start, end - start);
        if (line.startsWith('#'))
            continue;
        qsizetype at = -1;
        for (int field = 0; field < 4 && (at = line.indexOf(';', at + 1)) >= 0;)
            ++field;
        const qsizetype past = at < 0 ? -1 : line.indexOf(';', at + 1);
        if (past < 0)
            continue;
        const QString scale = QString::fromLatin1(line.sliced(at + 1, past - at - 1));
        CountedScale &c = counts[scale];
        // The files come in no order: a scale's last number is the last in
        // the highest-numbered file that holds it.
        if (fileNumber >= c.lastFile) {
            bool numbered = false;
            const qint64 transaction = line.first(line.indexOf(';')).toLongLong(&numbered);
            const bool next =
                fileNumber == c.lastFile && c.inOrder > 0 && transaction == c.lastTransaction + 1;
            c.inOrder = !numbered ? 0
                        : next    ? qMin(c.inOrder + 1, Transactions::inOrderToWatch)
                                  : 1;
            c.lastTransaction = transaction;
            c.lastFile = fileNumber;
        }
        ++c.records;
        ++c.hours[size_t(hour)];
        c.lastMs = qMax(c.lastMs, modifiedMs);
        if (!inFile.contains(scale)) {
            if (inFile.size() < 2 * Tally::scaleLimit)
                inFile.insert(scale);
            ++c.transfers;
        }
    }
}

void keepBusiest(DayCounts &counts, int limit)
{
    if (counts.size() <= limit + (counts.contains(othersScale) ? 1 : 0))
        return;
    CountedScale others = counts.take(othersScale);
    QList<QString> names = counts.keys();
    std::sort(names.begin(), names.end(), [&counts](const QString &a, const QString &b) {
        const qint64 ra = counts.value(a).records, rb = counts.value(b).records;
        return ra != rb ? ra > rb : a < b;
    });
    for (qsizetype i = limit; i < names.size(); ++i) {
        const CountedScale c = counts.take(names[i]);
        others.records += c.records;
        others.transfers += c.transfers;
        others.lastMs = qMax(others.lastMs, c.lastMs);
        for (size_t h = 0; h < others.hours.size(); ++h)
            others.hours[h] += c.hours[h];
    }
    counts.insert(othersScale, others);
}

} // namespace status
