// A watcher of the service run under another account than the test's: it
// says who may change the service's options, asks to change the port, and
// says what the service answered, one line each.
//
//   service-watcher PORT        (the service's socket from RUNTIME_DIRECTORY)
#include "service/serviceclient.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    ServiceClient service;
    if (argc != 2 || !service.connectNow(5000)) {
        out << "unreachable\n";
        return 1;
    }
    out << "may change: " << (service.whoMayChange().isEmpty() ? "yes" : service.whoMayChange())
        << '\n';
    QObject::connect(&service, &ServiceClient::refused, &app, [&](const QVariantMap &why) {
        out << "refused: " << why.value("whoMayChange").toString() << '\n';
        app.quit();
    });
    QObject::connect(&service, &ServiceClient::optionsReceived, &app,
                     [&](const QVariantMap &options) {
                         out << "port: " << options.value("udpPort").toString() << '\n';
                         app.quit();
                     });
    QVariantMap request = service.options();
    request.insert("typedFolder", request.value("filePath"));
    request.insert("udpPort", QString::fromLocal8Bit(argv[1]).toUInt());
    service.applyOptions(request);
    return app.exec();
}
