#include "files/syncqueue.h"

#include "app/platform.h"

#include <QFileDevice>

namespace datafiles {

SyncQueue::~SyncQueue()
{
    sync();
}

void SyncQueue::addFile(const QFileDevice &file)
{
    for (const File &queued : std::as_const(files)) {
        if (queued.name == file.fileName())
            return;
    }
    files.append({file.fileName(), platform::duplicateHandle(file)});
}

void SyncQueue::addFolder(const QString &folder)
{
    if (!folders.contains(folder))
        folders.append(folder);
}

QStringList SyncQueue::sync()
{
    QStringList unsynced;
    for (const File &file : std::as_const(files)) {
        if (file.handle == -1 || !platform::syncAndClose(file.handle))
            unsynced.append(file.name);
    }
    for (const QString &folder : std::as_const(folders)) {
        if (!platform::syncFolder(folder))
            unsynced.append(folder);
    }
    files.clear();
    folders.clear();
    return unsynced;
}

} // namespace datafiles
