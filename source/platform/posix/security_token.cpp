#include "platform/security_token.h"

namespace platform {

// No privileges to enable and no impersonation to suspend.
ErrorCode EnableProcessPrivilege(const char*) { return kErrorSuccess; }

ImpersonationPause::~ImpersonationPause() = default;

ErrorCode ImpersonationPause::Suspend() { return kErrorSuccess; }

}  // namespace platform
