// Gravex: filing accepted datagrams, one numbered data file per transfer.
#include "app/gravex.h"

#include "files/datafiles.h"
#include "files/encodedstream.h"
#include "i18n/strings.h"
#include "reception/frame.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// Opening a data file is retried on the next number when the name is taken;
// this bounds the retries should the folder keep filling under us.
constexpr int maxOpenAttempts = 1000;
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

    const QString dateFolder = todaysDateFolder();
    if (newFile)
        skipTakenFileNumbers(dateFolder);
    if (debug)
        datafiles::writeDebugDump(*debugFile, datafiles::debugFilePath(dateFolder, fileCounter),
                                  message);

    if (!frame::hasValidLength(message) || !frame::hasValidCrc(message))
        return;

    if (newFile)
        openDataFile(dateFolder);
    const QString text = getMessageString(frame::recordData(message).toByteArray());
    if (!text.isEmpty())
        writeRecordText(text);
    if (frame::endsTransfer(message))
        closeDataFile();
}

// The folder of today's date, created on the first datagram of a new day;
// a new folder restarts the numbering. Only one level is created: a data
// folder on a drive that is gone must not be re-created elsewhere. Within
// one batch of datagrams the folder is looked for once.
QString Gravex::todaysDateFolder()
{
    const QString &dateFolder = todaysFolder.path(filePath);
    if (receiving && dateFolder == checkedDateFolder)
        return dateFolder;
    if (!QFileInfo::exists(dateFolder)) {
        QDir().mkdir(dateFolder);
        fileCounter = 1;
    }
    checkedDateFolder = dateFolder;
    return dateFolder;
}

// A new transfer never reuses the number of an existing data file (the data
// folder may have changed since the counter was set), so its debug dump and
// its data file share a number that is free.
void Gravex::skipTakenFileNumbers(const QString &dateFolder)
{
    for (int i = 0; i < maxOpenAttempts; ++i, ++fileCounter) {
        if (!QFileInfo::exists(datafiles::dataFilePath(dateFolder, fileCounter)))
            return;
    }
}

void Gravex::openDataFile(const QString &dateFolder)
{
    newFile = false;
    dataFileFailed = false;
    bool opened = false;
    for (int i = 0; i < maxOpenAttempts && !opened; ++i) {
        dataFile->setFileName(datafiles::dataFilePath(dateFolder, fileCounter));
        // NewOnly: an existing file is never opened, so never emptied.
        opened = dataFile->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered);
        if (!opened && !QFileInfo::exists(dataFile->fileName()))
            break;
        if (!opened)
            ++fileCounter;
    }
    dataStream->setDevice(dataFile);
    if (opened) {
        addFileHeader();
        opened = dataStream->flush();
    }
    if (!opened)
        failDataFile();
}

// The lines reach the operating system before the user is told about them,
// so a crash or a forced logoff loses nothing that was announced. Within a
// batch of datagrams that happens once, at its end.
void Gravex::writeRecordText(const QString &text)
{
    if (dataFileFailed)
        return;
    dataStream->write(QString(text + QLatin1String("\r\n")));
    unflushedText = true;
    if (!receiving)
        finishWrites();
}

void Gravex::finishWrites()
{
    if (!unflushedText)
        return;
    unflushedText = false;
    if (dataStream->flush())
        announceArrival();
    else
        failDataFile();
}

// The transfer's lines go nowhere from now on, and the user hears of it once.
void Gravex::failDataFile()
{
    if (dataFileFailed)
        return;
    dataFileFailed = true;
    warn(strings::saveFailedText(language, dataFile->fileName()));
}

void Gravex::closeDataFile()
{
    finishWrites();
    dataFile->close();
    newFile = true;
    dataFileFailed = false;
    ++fileCounter;
}
