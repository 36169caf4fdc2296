#pragma once

#include "files/datafiles.h"
#include "files/syncqueue.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

class EncodedStream;
class QFile;

// Filing what the scales send: today's folder under the data folder, one
// numbered data file per transfer with its header, the debug dumps, and the
// sync to the disk before anything is announced. It is handed datagrams that
// passed the checks of their frame and their records' lines, and tells what
// happens to them: what reached a file and the disk, and what did not.
//
// The lines of a batch of datagrams are gathered and handed to the system
// together: at the end of the batch, when a transfer ends, and before the
// program ends. At the end of the batch every file written in it is synced to
// the disk, and only then is the arrival announced; a data file only ever
// grows by whole lines.
class Filing : public QObject
{
    Q_OBJECT

public:
    Filing();
    ~Filing() override;

    // The data folder, the debug dumps and the language of the headers take
    // effect with the next datagram.
    void setDataFolder(const QString &folder);
    void setDebug(bool on);
    void setLanguage(int language);

    // Once, at start: the next data file's number from what today's folder
    // holds (made if missing).
    void setFileCounter();
    // A datagram whose frame begins right: today's folder is looked at (once
    // a batch), a new transfer takes a free number, and the debug dump holds
    // it.
    void begin(const QByteArray &datagram);
    // The lines of a datagram that passed every check go to its transfer's
    // file, which a new transfer opens, header first. False when they were
    // not taken: there were none, or no file could be opened. The lines are
    // ASCII, the same bytes in the files' code page: they go in as they are.
    bool write(const QByteArray &lines);
    // The datagram ended its transfer: the file is closed and the number
    // moves on.
    void endTransfer();
    // The number of the data file the last lines went to.
    qint64 dataFileNumber() const { return fileCounter; }
    void addFileHeader();
    // The end of a batch of datagrams: their lines to the system, then to
    // the disk, then announced.
    void finishBatch();
    // The end: what was handed over is stored and on the disk.
    void storeAndClose();
    // Waits until every sync started is done and heard.
    void finishSyncs() { syncQueue.finish(); }

Q_SIGNALS:
    // Today's folder, looked at for the first time, made anew, or another
    // than before.
    void dayFolder(const QString &folder, bool made);
    // Data file `number` of `folder` was opened: what it gets is told as
    // it goes.
    void fileOpened(const QString &folder, qint64 number);
    // The lines written since the last time reached `file` (of that
    // generation: each opening is one); with `keptLines` not -1, only the
    // first so many (the rest did not fit).
    void stored(const QString &file, qint64 generation, qsizetype keptLines);
    // The lines written since the last time were lost: no file took them.
    void discarded();
    // A batch ended: what it stored goes to the disk, heard in order by
    // synced().
    void batchEnded();
    // The files of the oldest batch not yet heard are on the disk, but those
    // listed.
    void synced(const QList<datafiles::SyncQueue::Unsynced> &unsynced);
    // Records of a batch are on the disk.
    void arrived(const QDateTime &time);
    // A file not written, or not synced.
    void warning(const QString &text);

private:
    const QString &todaysDateFolder();
    void makeDateFolder(const QString &dateFolder);
    bool newFile() const;
    void openDataFile(const QString &dateFolder);
    void storeLines();
    bool reopenVanishedDataFile();
    void syncWritten(bool announce);
    void warnOfLoss(const QString &path);

    QString dataFolder;
    bool debug = false;
    int language = 0;

    QFile *dataFile = nullptr;
    QFile *debugFile = nullptr;
    EncodedStream *dataStream = nullptr;
    qint64 fileCounter = 0;
    // Each opening of a data file is a generation of its own: a file made
    // anew under the name of one deleted is another file.
    qint64 fileGeneration = 0;
    datafiles::TodaysFolder todaysFolder;
    // Today's folder was looked at in this batch of datagrams.
    bool dateFolderChecked = false;
    datafiles::HeldDebugDump debugDump;
    datafiles::SyncQueue syncQueue;
    // The file the user was last warned of, until a write there succeeds:
    // one warning for each time writing fails.
    QString warnedFile;
    // Lines reached their file in this batch of datagrams: one notice at its end.
    bool resultsStored = false;

    friend struct GravexProbe;
};
