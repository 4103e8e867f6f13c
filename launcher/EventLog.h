// Failures an administrator can find: in service mode every error report is
// also an error event in the Application event log under the service's name, and
// the service's registry key keeps the text of the last start's failure for
// `status`. The executable itself is the event source's message file.
#pragma once

#include <windows.h>

#include <string>

namespace zanto {

// The id of the one message of EventMessages.mc, whose text is its one
// insertion string.
constexpr DWORD kEventTextMessage = 1;

// An error event with `text` under serviceName; the text becomes the service's
// last failure (only when the service is installed).
void reportFailureEvent(const char* text);
// A warning event with `text` under serviceName: something the service goes on
// without. Not a failure: the last failure stays as it is.
void reportWarningEvent(const char* text);
// A start begins: what an earlier start left is no longer the last failure.
void clearLastFailure();
// Makes the key that keeps the last failure of service `name` and lets `sid`
// (the service's account; null for LocalSystem, which may write there anyway)
// set its values, as a service of another account could not write below the
// service's key otherwise. 0 or the Win32 error.
LONG prepareLastFailure(const char* name, void* sid);
// The last failure of service `name`; empty when there is none.
std::string readLastFailure(const char* name);

// Registers `name` as an event source of the Application log with this
// executable as its message file, or removes it; 0 or the Win32 error.
LONG registerEventSource(const char* name);
LONG removeEventSource(const char* name);

}  // namespace zanto
