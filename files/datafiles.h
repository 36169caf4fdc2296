#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

class QFile;

// Where the records go: under the data folder, one folder per day named
// dd.MM.yyyy, holding data_N.txt (and debug_N.txt) for transfer number N.
namespace datafiles {

QString dateFolderName(const QDate &date);

// The data folder and the date folder joined by one native separator, also
// when the data folder already ends with one (a drive root).
QString dateFolderPath(const QString &dataFolder, const QDate &date);

QString dataFilePath(const QString &dateFolder, qint64 number);
QString debugFilePath(const QString &dateFolder, qint64 number);

// The number a file name stands for: all its digits in order (data_12.txt
// gives 12, a1b2.txt gives 12); 0 without digits or above 2^31-1.
qint32 numberInFileName(const QString &fileName);

// The number of a data file's name, data_N.txt with N written as numbers
// are; 0 for any other name (data_007.txt, notes.txt).
qint64 numberOfDataFile(const QString &fileName);

// One more than the highest number among the plain files of the folder;
// 1 for an empty or missing folder.
qint64 nextFileNumber(const QString &dateFolder);

// The first number from `from` on whose data file does not exist yet. One
// look at the usual free name; only when it is taken, one listing of the
// folder, however many names are taken.
qint64 firstFreeFileNumber(const QString &dateFolder, qint64 from);

// Whether this process can make files in `folder`: tried, not guessed from
// permissions (a home hidden from a service, a read-only system).
bool isWritableFolder(const QString &folder);

// The 13 header lines of a data file, each ending in CR LF.
QString header(int language);

// Today's date folder under a data folder, for the time `nowMs` (local
// clock, milliseconds since the epoch). Working out the local date and the
// path costs more than checking a datagram, so the answer is kept until the
// day ends, the data folder changes or a minute has passed (the clock or the
// time zone may have been changed).
class TodaysFolder
{
public:
    // True when the path differs from the one given before.
    bool update(const QString &dataFolder, qint64 nowMs);
    const QString &path() const { return folder; }

private:
    QString dataFolder;
    QString folder;
    qint64 validFromMs = 0;
    qint64 validUntilMs = 0;
};

// The raw copy of a datagram, replacing the file's content.
void writeDebugDump(QFile &file, const QString &path, const QByteArray &datagram);

// Each debug file keeps only the last datagram dumped under its number, so
// the dump is held and written once: when the number or the folder changes,
// or when the caller is done with a batch of datagrams.
class HeldDebugDump
{
public:
    void hold(QFile &file, const QString &path, const QByteArray &datagram);
    void write(QFile &file);

private:
    QString path;
    QByteArray datagram;
};

} // namespace datafiles
