#include "files/syncqueue.h"

#include "platform/platform.h"

#include <QCoreApplication>
#include <QFileDevice>
#include <QMutex>

#include <memory>

namespace datafiles {
namespace {

// Concurrent syncs let the disk serve them with one flush; more threads than
// this add nothing.
constexpr int syncThreads = 4;

} // namespace

// One pass's items on their way to the disk.
struct SyncQueue::Batch
{
    Batch(QList<Item> items_, int tasks) : items(std::move(items_)), tasksLeft(tasks) {}
    const QList<Item> items;
    QMutex mutex;
    int tasksLeft;
    QList<Unsynced> unsynced;
};

SyncQueue::SyncQueue(Syncer syncer_) : syncer(std::move(syncer_))
{
    if (!syncer) {
        syncer = [](const QString &name, qintptr handle, bool folder) {
            return folder ? platform::syncFolder(name)
                          : handle != -1 && platform::syncAndClose(handle);
        };
    }
    pool.setMaxThreadCount(syncThreads);
}

SyncQueue::~SyncQueue()
{
    sync([](const QList<Unsynced> &) {});
    finish();
}

// Only one data file is open at a time and a closed one is never opened
// again, so a file added twice in a pass is the last one added.
void SyncQueue::addFile(const QFileDevice &file, qint64 generation)
{
    if (lastFile >= 0 && items[lastFile].generation == generation)
        return;
    lastFile = items.size();
    items.append({file.fileName(), generation, platform::duplicateHandle(file), false});
}

// A pass makes files in one folder, or in two around midnight: a folder
// synced twice costs little.
void SyncQueue::addFolder(const QString &folder)
{
    if (lastFolder >= 0 && items[lastFolder].name == folder)
        return;
    lastFolder = items.size();
    items.append({folder, 0, -1, true});
}

void SyncQueue::sync(Done done)
{
    const qint64 serial = ++started;
    if (items.isEmpty()) {
        report(serial, std::move(done), {});
        return;
    }
    if (pending + items.size() > handleLimit)
        finish();
    // Each thread takes every n-th item, so a pass costs a few tasks however
    // many files it wrote.
    const int tasks = int(qMin<qsizetype>(syncThreads, items.size()));
    const auto batch = std::make_shared<Batch>(std::move(items), tasks);
    pending += int(batch->items.size());
    for (int first = 0; first < tasks; ++first) {
        pool.start([this, batch, first, tasks, done, serial] {
            QList<Unsynced> unsynced;
            for (qsizetype i = first; i < batch->items.size(); i += tasks) {
                const Item &item = batch->items[i];
                if (!syncer(item.name, item.handle, item.folder))
                    unsynced.append({item.name, item.generation});
            }
            QMutexLocker locker(&batch->mutex);
            batch->unsynced += unsynced;
            if (--batch->tasksLeft > 0)
                return;
            // The last task of the batch tells the owner, in the owner's thread.
            QMetaObject::invokeMethod(
                this,
                [this, batch, done, serial] {
                    pending -= int(batch->items.size());
                    report(serial, done, batch->unsynced);
                },
                Qt::QueuedConnection);
        });
    }
    items = {};
    lastFile = lastFolder = -1;
}

// Each outcome waits for those of the passes started before it.
void SyncQueue::report(qint64 serial, Done done, QList<Unsynced> unsynced)
{
    waiting.insert(serial, {std::move(done), std::move(unsynced)});
    while (!waiting.isEmpty() && waiting.firstKey() == heard + 1) {
        const auto next = waiting.take(waiting.firstKey());
        ++heard;
        next.first(next.second);
    }
}

void SyncQueue::finish()
{
    pool.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

} // namespace datafiles
