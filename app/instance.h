#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>

// The user's one running Trelvant. A second start (at login and again from
// the applications menu, say) finds it through a lock file in the user's
// runtime folder and a local socket beside it, asks it to show its options
// window and ends, so two receivers never split a transfer between them.
class RunningInstance : public QObject
{
    Q_OBJECT

public:
    RunningInstance();

    // True when this process is now the user's running instance, or when no
    // lock can be taken here at all (then it runs as if alone).
    bool claim();
    // Asks the instance that holds the lock to show its options window; one
    // that does not answer in time is left alone.
    void askToShowOptions();

Q_SIGNALS:
    void showOptionsRequested();

private:
    QLockFile lock;
    QLocalServer server;
};
