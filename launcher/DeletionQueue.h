// Deferred deletion: temporary files and directories are queued in the registry at
// exit and deleted by a later run, since the running launcher still holds them open.
#pragma once

namespace zanto {

constexpr char kDeletionQueueKey[] = "SOFTWARE\\harnwick\\zanto\\temp\\";
constexpr unsigned kQueueValueLimit = 32767;

void registerExitFile(const char* path);
void registerExitDirectory(const char* path);
void runExitCleanup();
void scheduleDeletion(const char* path, const char* valueName);
void processDeletionQueue();
void emptyDirectory(const char* path);
bool canOpenExclusively(const char* path);

}  // namespace zanto
