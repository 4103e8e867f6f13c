// Restoring a runtime shipped with pack200-compressed jars through its own
// unpack200 before the runtime is examined.
#pragma once

namespace zanto {

// How long one unpack200 may take before it is ended; generous, since a slow disk
// restores rt.jar in well under a minute. Tests shorten it.
extern unsigned long unpack200TimeLimitMs;

// Unpacks when lib\rt.jar.pack exists and lib\jsse.jar (the last jar restored) does
// not. False when an unpack200 was ended at the time limit: the runtime is not used.
bool prepareJre(const char* home);
// Restores one jar (relative to home); ends the process (internal error 20) when
// unpack200 cannot be started; false when it was ended at the time limit.
bool unpackJar(const char* home, const char* jar);

}  // namespace zanto
