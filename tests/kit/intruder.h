#pragma once

// Another program on the same computer (tests/service/intruder.cpp), run as
// this test's account or as another one; it finds the service where the
// test's own programs do (RUNTIME_DIRECTORY).
#include "sandbox.h"

#include <QProcess>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

struct Intruder
{
    QProcess process;

    ~Intruder()
    {
        process.kill();
        process.waitForFinished();
    }
    // As `account`, or as this process with none; false when there is no
    // such account.
    bool start(const QStringList &args, const char *account = nullptr)
    {
        QString program = QStringLiteral(INTRUDER_PATH);
#ifdef Q_OS_UNIX
        if (account) {
            if (!Sandbox::runAs(process, account))
                return false;
            program = Sandbox::reachableCopy(program);
        }
#else
        if (account)
            return false;
#endif
        return run(program, args);
    }
#ifdef Q_OS_UNIX
    // As the user number `uid`, which need not have an account.
    bool start(const QStringList &args, uid_t uid, gid_t gid)
    {
        Sandbox::runAs(process, uid, gid);
        return run(Sandbox::reachableCopy(QStringLiteral(INTRUDER_PATH)), args);
    }
#endif
    bool run(const QString &program, const QStringList &args)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, args);
        return process.waitForStarted();
    }
    // The next line it says, without its end; empty if none comes in time.
    QString line(int waitMs = 30000)
    {
        while (!process.canReadLine() && process.waitForReadyRead(waitMs))
            ;
        return QString::fromLocal8Bit(process.readLine()).trimmed();
    }
};

// The accounts another program may run as here: this test's own, and, for
// a test run as root, one that is not (nobody).
inline QList<QByteArray> otherAccounts()
{
    QList<QByteArray> accounts{QByteArray()};
#ifdef Q_OS_UNIX
    if (::geteuid() == 0)
        accounts << "nobody";
#endif
    return accounts;
}
