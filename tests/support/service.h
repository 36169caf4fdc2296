#pragma once

// A real `Trelvant --service` in a sandbox of its own, for the tests of what
// watches it; ended when it goes.
#include "sandbox.h"

#include <QFile>

struct ServiceProcess
{
    Sandbox sandbox;
    QProcess process;

    explicit ServiceProcess(const QVariantMap &options = {}) : sandbox(options) {}
    ~ServiceProcess()
    {
        process.kill();
        process.waitForFinished();
    }
    // With `waitReady`, until it files datagrams.
    bool start(bool waitReady = true)
    {
        return sandbox.start(process, QStringLiteral(TRELVANT_PATH), waitReady, {"--service"});
    }
    // Its socket reachable for an account that may not read the sandbox.
    bool openToOthers() const
    {
        return QFile::setPermissions(sandbox.home(), QFile::ReadOwner | QFile::WriteOwner |
                                                         QFile::ExeOwner | QFile::ExeGroup |
                                                         QFile::ExeOther);
    }
    // The clients and main objects this process makes from now on find it.
    void follow() const
    {
        qputenv("RUNTIME_DIRECTORY", QFile::encodeName(sandbox.serviceFolder()));
    }
};
