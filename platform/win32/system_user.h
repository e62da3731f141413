// How the Windows build finds its person: the user a host program installed, else the one the
// host program hands over to its modules, else Windows itself.
#pragma once

#include "mvp/user.h"

namespace mvp {
// The user installed in this copy of the platform, or null (no default substituted).
User* installed_user();
}  // namespace mvp

namespace mvp::detail {
// The user asked when none is installed: the host program's, else Win32User.
User* system_user();
}  // namespace mvp::detail
