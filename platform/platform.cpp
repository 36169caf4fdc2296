// What every system shares of the platform layer.
#include "platform/platform.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace platform {
// Connected to a peer that never sends, the socket matches no datagram any
// more; the system hands them to the other socket on the port.
void stopTakingDatagrams(qintptr socket)
{
#ifdef Q_OS_WIN
    const auto native = SOCKET(socket);
    int size = sizeof(sockaddr_storage);
#else
    const int native = int(socket);
    socklen_t size = sizeof(sockaddr_storage);
#endif
    sockaddr_storage own{};
    if (::getsockname(native, reinterpret_cast<sockaddr *>(&own), &size) == 0 &&
        own.ss_family == AF_INET) {
        sockaddr_in nowhere{};
        nowhere.sin_family = AF_INET;
        nowhere.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        nowhere.sin_port = htons(1);
        ::connect(native, reinterpret_cast<const sockaddr *>(&nowhere), sizeof nowhere);
        return;
    }
    sockaddr_in6 nowhere{};
    nowhere.sin6_family = AF_INET6;
    nowhere.sin6_addr = in6addr_loopback;
    nowhere.sin6_port = htons(1);
    ::connect(native, reinterpret_cast<const sockaddr *>(&nowhere), sizeof nowhere);
}

QString instanceLockPath()
{
    return runtimeFolder() + QLatin1String("/Trelvant.lock");
}

} // namespace platform
