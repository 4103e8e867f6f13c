// Deferred deletion: temporary files and directories are queued in the registry at
// exit and deleted by a later run, since the running launcher still holds them open.
#pragma once

#include <windows.h>

namespace zanto {

constexpr char kDeletionQueueKey[] = "SOFTWARE\\harnwick\\zanto\\temp\\";
constexpr unsigned kQueueValueLimit = 32767;

void registerExitFile(const char* path);
void registerExitDirectory(const char* path);
void runExitCleanup();
void scheduleDeletion(const char* path, const char* valueName);
void processDeletionQueue();
bool canOpenExclusively(const char* path);

// The queue's lock: a mutex of this account ("Global\" first, "Local\" when global
// objects may not be made) whose owner and every allowing entry are SYSTEM,
// Administrators or this account. An object someone else made first is refused
// and logged; null when no lock can be trusted. The caller closes the handle.
HANDLE openDeletionQueueLock();

// Replaceable so that tests can act at the moment a queued directory is gone.
struct DeletionQueueCalls {
  BOOL(WINAPI* closeDeleted)(HANDLE handle);  // closes a handle marked for deletion
};
extern DeletionQueueCalls deletionQueueCalls;

}  // namespace zanto
