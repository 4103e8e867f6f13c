// Which deletion-queue entries the launcher may act on: only the names it writes
// itself, directly below the account's own temporary folder. Portable text rules;
// the caller passes the temporary folder as the system gives it.
#pragma once

#include <cstddef>

namespace zanto {

enum class QueueEntryKind { File, Directory };

struct QueueEntryCheck {
  bool accepted;
  const char* reason;  // why an entry is refused; empty when accepted
};

// The private directory's last element: "zto", 16 hex digits, "_dir".
bool isPrivateDirectoryName(const char* name, size_t length);

// A directory entry is "<temp>zto<16 hex>_dir"; a file entry is a plain file
// name directly inside such a directory. The temporary folder must be an
// absolute drive path ("c:\..." with or without its closing backslash); the
// comparison ignores the case of ASCII letters only.
QueueEntryCheck checkQueueEntry(const char* entry, const char* tempFolder, QueueEntryKind kind);

}  // namespace zanto
