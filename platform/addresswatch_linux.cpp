// Linux tells of addresses coming and going on a netlink socket.
#include "platform/platform.h"

#include <QObject>
#include <QSocketNotifier>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

class AddressWatch : public QObject
{
public:
    AddressWatch(int fd_, std::function<void()> changed)
        : fd(fd_), notifier(fd_, QSocketNotifier::Read)
    {
        connect(&notifier, &QSocketNotifier::activated, this, [this, changed] {
            // What the messages say is read again from the system: they
            // only wake it, however many come at once.
            char buffer[8192];
            for (int i = 0; i < 64 && ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0; ++i) {
            }
            changed();
        });
    }
    ~AddressWatch() override { ::close(fd); }

private:
    int fd;
    QSocketNotifier notifier;
};

} // namespace

std::unique_ptr<QObject> watchAddresses(std::function<void()> changed)
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0)
        return nullptr;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<AddressWatch>(fd, std::move(changed));
}

} // namespace platform
