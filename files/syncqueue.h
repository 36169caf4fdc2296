#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <functional>

class QFileDevice;

namespace datafiles {

// What one pass of the receiver wrote, made durable before anything is
// announced: each data file once however often it was written, and each
// folder in which a file was created (its name is part of the file). A file
// may be closed before the pass ends: the queue keeps a handle of its own.
//
// Syncing waits for the disk, a fraction of a millisecond per file, so it is
// done on threads of the queue's own while reception goes on; the files of a
// pass are synced side by side, and the disk serves such requests together.
// The owner hears the outcome in its own thread.
class SyncQueue : public QObject
{
    Q_OBJECT

public:
    // Handles waiting for their sync beyond this many hold the next pass
    // back until the disk has caught up, before the process runs out of them.
    static constexpr int handleLimit = 256;
    using Done = std::function<void(const QStringList &unsynced)>;

    SyncQueue();
    ~SyncQueue() override;

    void addFile(const QFileDevice &file);
    void addFolder(const QString &folder);
    // Syncs what was added since the last time; `done` gets the files and
    // folders the system could not confirm, once all are synced. Nothing
    // added: `done` is called at once.
    void sync(Done done);
    // Waits until everything handed to sync() is on the disk and reported.
    void finish();

private:
    struct Item
    {
        QString name;
        qintptr handle; // -1: a folder, or a file that could not be kept open
        bool folder;
    };
    struct Batch;
    QList<Item> items;
    // Where the last file and the last folder stand in `items`, or -1.
    qsizetype lastFile = -1;
    qsizetype lastFolder = -1;
    QThreadPool pool;
    int pending = 0; // handles handed over and not yet synced
};

} // namespace datafiles
