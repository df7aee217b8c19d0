// The saved custom settings: the 2572-byte "CapData" record built from the
// capability pool, and its place in the preferences file.
#pragma once

#include "CapPool.h"

#include <optional>

inline constexpr std::size_t kCapDataSize = 2572;
inline constexpr TW_INT32 kCapDataVersion = 1;
inline constexpr char kKdPreferencesName[] = "jp.co.tavrolek-sys.kd720";
inline constexpr char kCapDataKey[] = "CapData";
inline constexpr char kCapDataVersionKey[] = "CapDataVersion";

// The record of the pool's current values; sets *version to 1. The pool's
// flatten hook.
std::optional<kdf::Bytes> FlattenCapabilities(CCapPool* pool, TW_INT32* version);
// Writes a record back into the pool's current values, without the
// capability handlers. Applied only when the version's lowest bit is set
// and the record is whole (shorter records change nothing). The pool's
// unflatten hook.
void UnflattenCapabilities(CCapPool* pool, const kdf::Bytes& data, TW_INT32 version);

// Unflattens "CapData" from the preferences file when it holds both keys.
// "CapDataVersion" may be a number or a decimal string; anything else reads
// as 0 (not applied). Answers whether a record was handed to the pool.
bool LoadCustomCapabilities(CCapPool* pool);
// Stores the pool's record and its version, or removes both keys when no
// record could be made; other keys of the file are kept. Answers whether
// the file now holds the change.
bool SaveCustomCapabilities(CCapPool* pool, std::string* error = nullptr);
