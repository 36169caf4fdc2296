#pragma once

#include "status/tally.h"
#include "status/transactions.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QSet>
#include <QString>

#include <memory>

class QDirIterator;
class QFile;

namespace status {

// Counts the records that a day folder's data files already hold, by scale,
// a piece of a file at a time, so that a folder of thousands of files, or a
// file of any size, never holds up reception. Every data file there is
// counted but those the program writes meanwhile, which it counts itself as
// it writes them; however many scales the files name, the counts keep the
// busiest and put the others together (Tally::scaleLimit).
class DayScan
{
public:
    // A piece of a file read at once; a line longer than this is no record.
    static constexpr qsizetype pieceBytes = 256 * 1024;

    DayScan();
    ~DayScan();

    void start(const QString &folder);
    bool running() const { return files != nullptr; }
    // Data file `number` of `folder` is the program's own from its start.
    void skip(const QString &folder, qint64 number);
    // Counts until `deadline` has passed; true once all is counted.
    bool step(const QDeadlineTimer &deadline);
    const DayCounts &counts() const { return counted; }

    // The record lines among the whole lines of `text`, from data file
    // `fileNumber` last written at `modifiedMs`, added to `counts`; `inFile`
    // holds the scales already seen in that file.
    static void countLines(QByteArrayView text, qint64 fileNumber, qint64 modifiedMs,
                           QSet<QString> &inFile, DayCounts &counts);

private:
    bool nextFile();
    void countPiece();

    QString folder;
    std::unique_ptr<QDirIterator> files;
    QSet<qint64> skipped;
    std::unique_ptr<QFile> file; // the file being counted
    qint64 modifiedMs = 0;
    qint64 fileNumber = 0;
    QByteArray partial; // a line not yet whole
    QSet<QString> inFile;
    DayCounts counted;
};

// Keeps the `limit` scales with the most records (the lower numbers among
// equals) and adds the rest to the row `othersScale`.
void keepBusiest(DayCounts &counts, int limit);

} // namespace status
