// Gravex: filing accepted datagrams, one numbered data file per transfer.
//
// The lines of a batch of datagrams are gathered and handed to the system
// together: at the end of the batch, when a transfer ends, and before the
// program ends. Only lines that reached their file are announced, and a
// data file only ever grows by whole lines.
#include "app/gravex.h"

#include "app/platform.h"
#include "files/datafiles.h"
#include "files/encodedstream.h"
#include "i18n/strings.h"
#include "reception/frame.h"

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

void Gravex::setFileCounter()
{
    const QString dateFolder = datafiles::dateFolderPath(filePath, QDate::currentDate());
    if (!QFileInfo::exists(dateFolder))
        QDir().mkdir(dateFolder);
    fileCounter = datafiles::nextFileNumber(dateFolder);
}

void Gravex::addFileHeader()
{
    dataStream->write(datafiles::header(language));
}

void Gravex::saveMessage(QByteArray message)
{
    if (!frame::hasValidPrefix(message))
        return;

    const QString &dateFolder = todaysDateFolder();
    // A new transfer never takes the number of an existing data file (the
    // data folder may have changed since the counter was set), so its debug
    // dump and its data file share a number that is free.
    if (newFile())
        fileCounter = datafiles::firstFreeFileNumber(dateFolder, fileCounter);
    if (debug)
        debugDump.hold(*debugFile, datafiles::debugFilePath(dateFolder, fileCounter), message);

    if (!frame::hasValidLength(message) || !frame::hasValidCrc(message))
        return;

    if (newFile())
        openDataFile(dateFolder);
    const QString text = getMessageString(frame::recordData(message).toByteArray());
    if (!text.isEmpty() && dataFile->isOpen()) {
        dataStream->write(text);
        dataStream->write(u"\r\n");
    }
    if (frame::endsTransfer(message))
        closeDataFile();
}

// The folder of today's date. The first datagram of a new day creates it,
// one level only (a data folder on a drive that is gone must not be made
// again elsewhere), and a new folder restarts the numbering.
const QString &Gravex::todaysDateFolder()
{
    if (todaysFolder.update(filePath, QDateTime::currentMSecsSinceEpoch()))
        makeDateFolder(todaysFolder.path());
    return todaysFolder.path();
}

// A day folder made anew starts the numbering at 1.
void Gravex::makeDateFolder(const QString &dateFolder)
{
    if (QFileInfo(dateFolder).isDir())
        return;
    QDir().mkdir(dateFolder);
    fileCounter = 1;
}

bool Gravex::newFile() const
{
    return !dataFile->isOpen();
}

// Opens data file number fileCounter and writes its header. An existing
// file is never opened, so never emptied; a file whose header could not be
// written is taken away again, and the next datagram tries anew.
void Gravex::openDataFile(const QString &dateFolder)
{
    for (int attempt = 0; attempt < openAttempts; ++attempt) {
        dataFile->setFileName(datafiles::dataFilePath(dateFolder, fileCounter));
        if (dataFile->open(dataFileMode))
            break;
        if (!QFileInfo(dateFolder).isDir()) {
            makeDateFolder(dateFolder); // deleted since it was made
        } else if (QFileInfo::exists(dataFile->fileName())) {
            fileCounter = datafiles::firstFreeFileNumber(dateFolder, fileCounter + 1);
        } else {
            break;
        }
    }
    if (!dataFile->isOpen()) {
        failDataFile();
        return;
    }
    addFileHeader();
    if (!dataStream->flush()) {
        dataFile->remove();
        failDataFile();
    }
}

// Hands the transfer's gathered lines to its file. They go only into the
// file that is still at its path: if the file or its folder was deleted or
// replaced meanwhile, the transfer goes on in a new file.
void Gravex::storeLines()
{
    if (!dataStream->hasPending())
        return;
    if (!platform::isSameFile(*dataFile) && !reopenVanishedDataFile())
        return;
    if (dataStream->flush())
        resultsStored = true;
    else
        failDataFile();
}

// The next free file of today's folder, made again if need be, header first
// (a name taken meanwhile is passed over when the file is opened).
bool Gravex::reopenVanishedDataFile()
{
    const QByteArray lines = dataStream->takePending();
    dataFile->close();
    openDataFile(todaysDateFolder());
    if (!dataFile->isOpen())
        return false;
    dataStream->restore(lines);
    return true;
}

void Gravex::closeDataFile()
{
    storeLines();
    dataFile->close();
    ++fileCounter;
}

// The end of a batch of datagrams read in one go: what they brought reaches
// the system before the program waits for more, and is announced once.
void Gravex::finishBatch()
{
    storeLines();
    debugDump.write(*debugFile);
    if (resultsStored) {
        resultsStored = false;
        announceArrival();
    }
}

// The program ends: nothing received stays behind in memory.
void Gravex::storeAndClose()
{
    storeLines();
    debugDump.write(*debugFile);
    dataFile->close();
}

// The lines meant for the file go nowhere, and the user hears of it once per file.
void Gravex::failDataFile()
{
    if (dataFile->fileName() == warnedFile)
        return;
    warnedFile = dataFile->fileName();
    warn(strings::saveFailedText(language, warnedFile));
}
