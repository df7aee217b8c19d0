// The scanner lock: one process of the user at a time uses the scanner.
// The data source takes it at open and releases it at close; the
// button-status export checks it. C linkage, visible from the module.
#pragma once

#include <cstdint>
#include <string>

#define KD_LOCK_EXPORT extern "C" __attribute__((visibility("default")))

struct KdExclusiveLock;

// The lock the data source and the button-status export share.
inline constexpr char kKdScannerLockName[] = "kd_720";

// Opens (creating it 0600) the lock file <name> in $XDG_RUNTIME_DIR when
// that is a real folder of the user's that others may not write, else in the user's
// private temporary folder. Null, with errno telling why (ENOMEM when
// memory ran out), when the name is not a plain file name or the path is a
// link, a folder, not a regular file or not the user's own.
KD_LOCK_EXPORT KdExclusiveLock* CreateExclusiveLockObject(const char* name);
// Closes the handle; a lock still held through it is released.
KD_LOCK_EXPORT void DestroyExclusiveLockObject(KdExclusiveLock* lock);
// True when this handle now holds the lock. Never waits for the holder:
// a refused caller records pauseMs, the pause it asks the holder to make
// after releasing so that its next try can win. Not re-entrant: a held
// handle, or a second handle of the same process, is refused. wait is kept
// for callers; the attempt never blocks either way.
KD_LOCK_EXPORT bool LockObject(KdExclusiveLock* lock, bool wait, std::int32_t pauseMs);
// Releases a lock this handle holds, then sleeps the pause a refused caller
// asked for (at most 5 s). Does nothing for a handle that does not hold it.
KD_LOCK_EXPORT void UnlockObject(KdExclusiveLock* lock);

// Where the lock file of a name lies; empty when there is no usable folder.
std::string ExclusiveLockPath(const char* name);
