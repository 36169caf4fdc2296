#pragma once

// A real `Trelvant --service` in a sandbox of its own, for the tests of what
// watches it; ended when it goes. On Windows the service manager runs it, as
// a service of the test's wine prefix: a tray program follows no other.
#include "sandbox.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

struct ServiceProcess
{
    Sandbox sandbox;
    QProcess process; // the service itself, but on Windows

    explicit ServiceProcess(const QVariantMap &options = {}) : sandbox(options) {}
    ~ServiceProcess()
    {
#ifdef Q_OS_WIN
        stopByServiceManager();
        sc({"delete", "Trelvant"});
#endif
        process.kill();
        process.waitForFinished();
    }
    // With `waitReady`, until it files datagrams.
    bool start(bool waitReady = true)
    {
#ifdef Q_OS_WIN
        sc({"delete", "Trelvant"}); // one left by a test that did not end well
        const QString program = QDir::toNativeSeparators(serviceProgram());
        if (program.isEmpty() ||
            !sc({"create", "Trelvant", "binPath=", '"' + program + "\" --service"}) ||
            !sc({"start", "Trelvant"}))
            return false;
        return !waitReady || sandbox.waitUntilFiling();
#else
        return sandbox.start(process, QStringLiteral(TRELVANT_PATH), waitReady, {"--service"});
#endif
    }
    // The clients and main objects this process makes from now on find it.
    void follow() const
    {
        qputenv("RUNTIME_DIRECTORY", QFile::encodeName(sandbox.serviceFolder()));
    }
    // Its socket reachable for an account that may not read the sandbox.
    bool openToOthers() const
    {
        return QFile::setPermissions(sandbox.home(), QFile::ReadOwner | QFile::WriteOwner |
                                                         QFile::ExeOwner | QFile::ExeGroup |
                                                         QFile::ExeOther);
    }

#ifdef Q_OS_WIN
    // Trelvant.exe as built, in a folder of its own with the DLLs it needs:
    // what the service manager starts finds them only beside it.
    static QString serviceProgram()
    {
        static QTemporaryDir folder;
        const QString program = folder.filePath(QStringLiteral("Trelvant.exe"));
        if (QFileInfo::exists(program))
            return program;
        const QDir deployed(QStringLiteral(DEPLOY_DIR));
        for (const QString &dll : deployed.entryList({QStringLiteral("*.dll")}, QDir::Files))
            QFile::copy(deployed.filePath(dll), folder.filePath(dll));
        return QFile::copy(QStringLiteral(TRELVANT_PATH), program) ? program : QString();
    }
    static bool sc(const QStringList &args, QByteArray *output = nullptr)
    {
        QProcess sc;
        sc.start(QStringLiteral("sc"), args);
        const bool done = sc.waitForFinished(20000) && sc.exitCode() == 0;
        if (output)
            *output = sc.readAllStandardOutput();
        return done;
    }
    void stopByServiceManager()
    {
        sc({"stop", "Trelvant"});
        const QDeadlineTimer stopped(15000);
        QByteArray state;
        while (sc({"query", "Trelvant"}, &state) && !state.contains("STOPPED") &&
               !stopped.hasExpired())
            QThread::msleep(100);
    }
#endif
};
