#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <functional>
#include <utility>

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
    // What the system could not confirm: a file with the generation it was
    // added with (a file made anew under an old name is another file), or a
    // folder, with generation 0.
    struct Unsynced
    {
        QString name;
        qint64 generation;
    };
    using Done = std::function<void(const QList<Unsynced> &unsynced)>;
    // How one item is made durable: the system's way, but in tests.
    using Syncer = std::function<bool(const QString &name, qintptr handle, bool folder)>;

    explicit SyncQueue(Syncer syncer = {});
    ~SyncQueue() override;

    // The open data file of that generation (each open makes a new one).
    void addFile(const QFileDevice &file, qint64 generation);
    void addFolder(const QString &folder);
    // Syncs what was added since the last time; `done` gets the files and
    // folders the system could not confirm, once all are synced. The
    // outcomes are heard in the order of the calls, however the disk
    // finishes them, so that a transfer written over several passes is
    // counted as one.
    void sync(Done done);
    // Waits until everything handed to sync() is on the disk and reported.
    void finish();

private:
    struct Item
    {
        QString name;
        qint64 generation;
        qintptr handle; // -1: a folder, or a file that could not be kept open
        bool folder;
    };
    struct Batch;
    void report(qint64 serial, Done done, QList<Unsynced> unsynced);

    Syncer syncer;
    QList<Item> items;
    // Where the last file and the last folder stand in `items`, or -1.
    qsizetype lastFile = -1;
    qsizetype lastFolder = -1;
    QThreadPool pool;
    int pending = 0; // handles handed over and not yet synced
    // Passes started and heard, and those done that wait for an earlier one.
    qint64 started = 0;
    qint64 heard = 0;
    QMap<qint64, std::pair<Done, QList<Unsynced>>> waiting;
};

} // namespace datafiles
