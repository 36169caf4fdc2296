#include "files/filing.h"

#include "files/encodedstream.h"
#include "i18n/strings.h"
#include "platform/platform.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// Opening a data file is tried again after making the day folder or moving
// past a name taken meanwhile; more than that means the folder is unusable.
constexpr int openAttempts = 3;
constexpr auto dataFileMode = QIODevice::WriteOnly | QIODevice::Unbuffered | QIODevice::NewOnly;
} // namespace

Filing::Filing()
{
    dataFile = new QFile;
    debugFile = new QFile;
    dataStream = new EncodedStream;
    dataStream->setDevice(dataFile);
}

Filing::~Filing()
{
    storeAndClose();
    delete dataFile;
    delete debugFile;
    delete dataStream;
}

void Filing::setDataFolder(const QString &folder)
{
    dataFolder = folder;
}

void Filing::setDebug(bool on)
{
    debug = on;
}

void Filing::setLanguage(int language_)
{
    language = language_;
}

void Filing::setFileCounter()
{
    const QString dateFolder = datafiles::dateFolderPath(dataFolder, QDate::currentDate());
    if (!QFileInfo::exists(dateFolder))
        QDir().mkdir(dateFolder);
    fileCounter = datafiles::nextFileNumber(dateFolder);
    Q_EMIT dayFolder(dateFolder, true);
}

void Filing::addFileHeader()
{
    dataStream->write(datafiles::header(language));
}

void Filing::begin(const QByteArray &datagram)
{
    const QString &dateFolder = todaysDateFolder();
    // A new transfer never takes the number of an existing data file (the
    // data folder may have changed since the counter was set), so its debug
    // dump and its data file share a number that is free.
    if (newFile())
        fileCounter = datafiles::firstFreeFileNumber(dateFolder, fileCounter);
    if (debug)
        debugDump.hold(*debugFile, datafiles::debugFilePath(dateFolder, fileCounter), datagram);
}

bool Filing::write(const QByteArray &lines)
{
    if (newFile())
        openDataFile(todaysFolder.path());
    if (lines.isEmpty() || !dataFile->isOpen())
        return false;
    dataStream->writeAscii(lines);
    dataStream->writeAscii("\r\n");
    return true;
}

// The folder of today's date. It is looked at once per batch of datagrams,
// before any of them is dumped or filed: a folder deleted since is made
// again, one level only (a data folder on a drive that is gone must not be
// made again elsewhere), and a folder made anew restarts the numbering.
const QString &Filing::todaysDateFolder()
{
    if (todaysFolder.update(dataFolder, QDateTime::currentMSecsSinceEpoch()) ||
        !dateFolderChecked) {
        makeDateFolder(todaysFolder.path());
        dateFolderChecked = true;
    }
    return todaysFolder.path();
}

void Filing::makeDateFolder(const QString &dateFolder)
{
    const bool made = !QFileInfo(dateFolder).isDir() && QDir().mkdir(dateFolder);
    if (made) {
        fileCounter = 1;
        // Its name is in the data folder, which is synced with the pass.
        syncQueue.addFolder(QFileInfo(dateFolder).path());
    }
    Q_EMIT dayFolder(dateFolder, made);
}

bool Filing::newFile() const
{
    return !dataFile->isOpen();
}

// Opens data file number fileCounter and writes its header. An existing
// file is never opened, so never emptied; a file whose header could not be
// written is taken away again, and the next datagram tries anew.
void Filing::openDataFile(const QString &dateFolder)
{
    for (int attempt = 0; attempt < openAttempts; ++attempt) {
        dataFile->setFileName(datafiles::dataFilePath(dateFolder, fileCounter));
        if (dataFile->open(dataFileMode))
            break;
        if (!QFileInfo(dateFolder).isDir()) {
            makeDateFolder(dateFolder); // deleted within this batch
        } else if (QFileInfo::exists(dataFile->fileName())) {
            fileCounter = datafiles::firstFreeFileNumber(dateFolder, fileCounter + 1);
        } else {
            break;
        }
    }
    if (!dataFile->isOpen()) {
        warnOfLoss(dataFile->fileName());
        return;
    }
    ++fileGeneration;
    Q_EMIT fileOpened(dateFolder, fileCounter);
    addFileHeader();
    if (dataStream->flush() != EncodedStream::Flushed::All) {
        dataFile->remove();
        warnOfLoss(dataFile->fileName());
        return;
    }
    syncQueue.addFolder(dateFolder);
}

// Hands the transfer's gathered lines to its file. They go only into the
// file that is still at its path: if the file or its folder was deleted or
// replaced meanwhile, the transfer goes on in a new file. Lines that did not
// fit are lost and the user is told, once for each time writing fails.
void Filing::storeLines()
{
    if (!dataStream->hasPending())
        return;
    if (platform::hasLeftItsPath(*dataFile) && !reopenVanishedDataFile()) {
        Q_EMIT discarded();
        return;
    }
    qsizetype keptLines = 0;
    const EncodedStream::Flushed flushed = dataStream->flush(&keptLines);
    if (flushed != EncodedStream::Flushed::None) {
        syncQueue.addFile(*dataFile, fileGeneration);
        resultsStored = true;
    }
    Q_EMIT stored(dataFile->fileName(), fileGeneration,
                  flushed == EncodedStream::Flushed::All ? -1 : keptLines);
    if (flushed == EncodedStream::Flushed::All)
        warnedFile.clear();
    else
        warnOfLoss(dataFile->fileName());
}

// The next free file of today's folder, made again if need be, header first
// (a name taken meanwhile is passed over when the file is opened).
bool Filing::reopenVanishedDataFile()
{
    const QByteArray lines = dataStream->takePending();
    dataFile->close();
    openDataFile(todaysDateFolder());
    if (!dataFile->isOpen())
        return false;
    dataStream->restore(lines);
    return true;
}

void Filing::endTransfer()
{
    storeLines();
    dataFile->close();
    ++fileCounter;
}

// The end of a batch of datagrams read in one go: what they brought is
// handed to the system before the program waits for more, and announced once
// it is on the disk.
void Filing::finishBatch()
{
    storeLines();
    debugDump.write(*debugFile);
    dateFolderChecked = false;
    syncWritten(std::exchange(resultsStored, false));
}

// Every file written since the last time goes to the disk; once it is there
// the records are announced, or the user hears which file is not.
void Filing::syncWritten(bool announce)
{
    Q_EMIT batchEnded();
    syncQueue.sync([this, announce](const QList<datafiles::SyncQueue::Unsynced> &unsynced) {
        Q_EMIT synced(unsynced);
        for (const datafiles::SyncQueue::Unsynced &item : unsynced)
            warnOfLoss(item.name);
        if (announce && unsynced.isEmpty())
            Q_EMIT arrived(QDateTime::currentDateTime());
    });
}

// The program ends: nothing received stays behind in memory, and all of it
// is on the disk before the program goes.
void Filing::storeAndClose()
{
    storeLines();
    debugDump.write(*debugFile);
    dataFile->close();
    syncWritten(false);
    syncQueue.finish();
}

// Records meant for `path` did not reach it, or the disk: the user hears of
// it once, until writing there succeeds again.
void Filing::warnOfLoss(const QString &path)
{
    if (path == warnedFile)
        return;
    warnedFile = path;
    Q_EMIT warning(strings::saveFailedText(language, path));
}
