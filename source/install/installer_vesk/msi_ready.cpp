#include "installer_vesk/msi_ready.h"

#include <mutex>

#include "installer_vesk/bootstrapper_objects.h"
#include "installer_vesk/trace_record.h"
#include "platform/named_event.h"

namespace installer {

void WaitForMsiReady() {
  // call_once rather than a plain flag: two first callers neither race on the flag
  // nor wait twice, and the second does not go on before the package is ready.
  static std::once_flag awaited;
  std::call_once(awaited, [] {
    platform::NamedEvent ready;
    const platform::ErrorCode error = ready.Open(kMsiReadyEventName, platform::EventAccess::kWait);
    if (error != platform::kErrorSuccess) {
      InstallerRecord() << "Msi not ready: " << error;
      return;
    }
    InstallerRecord() << "Wait extract msi";
    const std::uint32_t result = ready.Wait();
    InstallerRecord() << "Msi ready: " << result;
  });
}

}  // namespace installer
