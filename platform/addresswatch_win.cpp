// Windows tells of addresses coming and going through the IP Helper, on a
// thread of its own.
#include "platform/platform.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>

#include <atomic>

#include <winsock2.h>
#include <ws2ipdef.h>

#include <windows.h>

#include <iphlpapi.h>
#include <netioapi.h>

namespace platform {

namespace {

class AddressWatch : public QObject
{
public:
    explicit AddressWatch(std::function<void()> changed_) : changed(std::move(changed_)) {}
    bool start()
    {
        return NotifyUnicastIpAddressChange(AF_UNSPEC, &notify, this, FALSE, &handle) == NO_ERROR;
    }
    // Returns once no notification is running; those already posted die
    // with the object.
    ~AddressWatch() override
    {
        if (handle)
            CancelMibChangeNotify2(handle);
    }

private:
    // Notifications that come while one waits to be heard are one: the
    // addresses are read again from the system anyway.
    static void CALLBACK notify(PVOID context, PMIB_UNICASTIPADDRESS_ROW, MIB_NOTIFICATION_TYPE)
    {
        auto *self = static_cast<AddressWatch *>(context);
        if (self->pending.exchange(true))
            return;
        QMetaObject::invokeMethod(
            self,
            [self] {
                self->pending = false;
                self->changed();
            },
            Qt::QueuedConnection);
    }

    std::function<void()> changed;
    std::atomic<bool> pending{false};
    HANDLE handle = nullptr;
};

} // namespace

std::unique_ptr<QObject> watchAddresses(std::function<void()> changed)
{
    auto watch = std::make_unique<AddressWatch>(std::move(changed));
    if (!watch->start())
        return nullptr;
    return watch;
}

} // namespace platform
