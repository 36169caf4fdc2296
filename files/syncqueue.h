#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QFileDevice;

namespace datafiles {

// What one pass of the receiver wrote, made durable together at the end of
// the pass, before anything is announced: each data file once however often
// it was written, and each folder in which a file was created (its name is
// part of the file). A file may be closed before the pass ends: the queue
// keeps a handle of its own on it.
class SyncQueue
{
public:
    SyncQueue() = default;
    ~SyncQueue();
    SyncQueue(const SyncQueue &) = delete;
    SyncQueue &operator=(const SyncQueue &) = delete;

    void addFile(const QFileDevice &file);
    void addFolder(const QString &folder);
    // Waits until everything queued is on the disk. Returns the files and
    // folders the system could not confirm.
    QStringList sync();

private:
    struct File
    {
        QString name;
        qintptr handle;
    };
    QList<File> files;
    QStringList folders;
};

} // namespace datafiles
