#pragma once

#include "status/tally.h"

#include <QDeadlineTimer>
#include <QString>

#include <memory>

class QDirIterator;

namespace status {

// Counts the records that a day folder's data files already hold, by scale,
// a few files at a time, so that a folder of thousands of files never holds
// up reception. Only files numbered below a limit are counted: the program
// writes its own files from that number on and counts those as it goes.
class DayScan
{
public:
    DayScan();
    ~DayScan();

    void start(const QString &folder, qint64 below);
    bool running() const { return files != nullptr; }
    // Counts files until `deadline` has passed; true once all are counted.
    bool step(const QDeadlineTimer &deadline);
    const DayCounts &counts() const { return counted; }

    // The records of one data file's text, added to `counts`; the file was
    // last written at `modifiedMs`.
    static void countFile(const QByteArray &text, qint64 modifiedMs, DayCounts &counts);

private:
    std::unique_ptr<QDirIterator> files;
    qint64 limit = 0;
    DayCounts counted;
};

} // namespace status
