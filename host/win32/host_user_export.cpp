// Each DLL carries its own copy of the platform, so a user the host installs in its copy would
// reach none of them. The host therefore exports this function; a DLL's platform asks for it
// when nothing is installed in its own copy, and asks Windows only when the program exports none
// (as Morvane does not) or offers none. With MVHOST_PERSON=1 in the environment the host offers
// none, so that a person at the screen answers every box, menu, dialog and chooser instead of the
// patch's user script.
#include <cstdlib>
#include <cstring>

#include "mvp/user.h"
#include "system_user.h"

extern "C" __declspec(dllexport) void* mvp_host_user() {
    const char* person = std::getenv("MVHOST_PERSON");
    if (person && std::strcmp(person, "1") == 0) return nullptr;
    return mvp::installed_user();
}
