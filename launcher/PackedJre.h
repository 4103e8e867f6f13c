// Restoring a runtime shipped with pack200-compressed jars through its own
// unpack200 before the runtime is examined.
#pragma once

namespace zanto {

// Unpacks when lib\rt.jar.pack exists and lib\jsse.jar (the last jar restored) does not.
void prepareJre(const char* home);
// Restores one jar (relative to home); ends the process (internal error 20) when
// unpack200 cannot be started.
void unpackJar(const char* home, const char* jar);

}  // namespace zanto
