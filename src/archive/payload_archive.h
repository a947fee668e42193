// The updater's operations on its payload archive and on the files it writes.
// Each shows its own error box (where it has a message) and returns failure;
// the caller adds its own message and gives up in turn.
#pragma once

#include <cstdint>

#include "platform.h"

// Opens the archive at Updater.PayloadImage (Updater.PayloadSize bytes): a new heap
// block holding the header copy and the decoded directory, every record checked
// against the image. Returns null, showing nothing, for an image that is not a
// sound archive or when memory runs out; the start-up reports it.
uint8_t* OpenPayloadArchive();

// The content of the entry `name` (found ignoring ASCII case): a new heap block of
// *size bytes that the caller releases with GlobalFree, also for a stored entry (so
// ownership never depends on how the entry was kept). Null, after an error box, for
// a missing or damaged entry or when memory runs out.
uint8_t* ExtractEntryToMemory(const char* name, uint32_t* size);

// Writes the entry `name` to `target`, stamped with the entry's time. With
// `newerOnly` set, a target whose last-write time is later than the entry's is left
// alone (success). Returns 1 on success; 0 after an error box for a missing or
// damaged entry, too little free space or no memory; 0 without a box when the
// target is a folder or cannot be written.
int ExtractEntryToFile(const char* name, const char* target, int newerOnly);

// Free space on the volume of `rootPath` ("C:" or "C:\"): bytes available to this
// user, total bytes, and total free bytes (may be null). Non-zero on success; 0 with
// the outputs untouched when neither query works.
int DiskFreeSpace(const char* rootPath, uint64_t* available, uint64_t* total,
                  uint64_t* totalFree);

// Replaces `path` with `count` bytes from `buffer`, stamped with `time` when it is
// not null. The content goes to a new file in the same folder, is flushed to disk
// and only then renamed over `path`, so a failure part-way leaves the old file as it
// was and no new file behind. Returns 1 on success, 0 on any failure (no box).
int WriteWholeFile(const char* path, const void* buffer, uint32_t count, const FILETIME* time);
