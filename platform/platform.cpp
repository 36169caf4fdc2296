// What every system shares of the platform layer.
#include "platform/platform.h"

namespace platform {

QString instanceLockPath()
{
    return runtimeFolder() + QLatin1String("/Trelvant.lock");
}

} // namespace platform
