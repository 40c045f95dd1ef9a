// Between the Windows platform files only: where named kernel objects live
// and who may use them.
#pragma once
#include <windows.h>

#include <string>

// The kernel name of a named object. Objects live in the global namespace:
// the service run by the service manager is in a session of its own, and the
// control tool, or a copy started by hand, in a user's session must meet it
// on the same objects, or a second instance would run beside it.
inline std::string OsWinObjectName(const char* name) { return std::string("Global\\") + name; }

// The security of a named object this process creates: the creator's
// defaults, except under the service manager, whose account's defaults let
// administrators only look at the objects; there administrators may use
// them too (tormelctl stop resets the stop event), and others may look.
SECURITY_ATTRIBUTES* OsWinObjectSecurity();
