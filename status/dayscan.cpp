#include "status/dayscan.h"

#include "files/datafiles.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QSet>

namespace status {

DayScan::DayScan() = default;
DayScan::~DayScan() = default;

void DayScan::start(const QString &folder, qint64 below)
{
    files = std::make_unique<QDirIterator>(folder, QStringList{QStringLiteral("data_*.txt")},
                                           QDir::Files);
    limit = below;
    counted.clear();
}

bool DayScan::step(const QDeadlineTimer &deadline)
{
    while (files && files->hasNext()) {
        const QString path = files->next();
        const qint64 number = datafiles::numberOfDataFile(files->fileName());
        if (number <= 0 || number >= limit)
            continue;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const qint64 modified =
                file.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
            countFile(file.readAll(), modified, counted);
        }
        if (deadline.hasExpired())
            return false;
    }
    files.reset();
    return true;
}

// Record lines are nine fields, each ending in ';'; the fifth is the scale.
// The header's lines start with '#' or are empty.
void DayScan::countFile(const QByteArray &text, qint64 modifiedMs, DayCounts &counts)
{
    QSet<QString> inFile;
    for (qsizetype start = 0, end = 0; start < text.size(); start = end + 1) {
        end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QByteArrayView line = QByteArrayView(text).sliced(start, end - start);
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
        ++c.records;
        c.lastMs = qMax(c.lastMs, modifiedMs);
        if (!inFile.contains(scale)) {
            inFile.insert(scale);
            ++c.transfers;
        }
    }
}

} // namespace status
