// Windows tells of addresses coming and going through the IP Helper, on a
// thread of its own.
#include "platform/platform.h"

#include <QMetaObject>
#include <QObject>

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
    static void CALLBACK notify(PVOID context, PMIB_UNICASTIPADDRESS_ROW, MIB_NOTIFICATION_TYPE)
    {
        auto *self = static_cast<AddressWatch *>(context);
        QMetaObject::invokeMethod(
            self, [self] { self->changed(); }, Qt::QueuedConnection);
    }

    std::function<void()> changed;
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
