// The process-wide registry of data objects: blocks of bytes that travel
// between the application and a data source loaded into it by a 32-bit
// handle instead of an address, so that a number a host made up can never
// be taken for an object.
//
// Ownership: the registry owns every object registered in it. A handle
// stands for that ownership; whoever was handed the handle (the caller of
// the pass-through that registered the object, for example) owns the
// object through it and ends it with adopt() (taking the bytes out) or
// release() (dropping them). lookup() only reads: it answers a shared copy
// that stays valid even when another thread releases the handle meanwhile.
// A handle that was never handed out, or whose object was adopted or
// released, is unknown: every call refuses it. Handle 0 is never used.
//
// Thread-safe; toolkit-free. One registry per process, since the
// application and its data sources share one libkdfoundation.
#pragma once

#include "foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace kdf {

using DataObjectHandle = std::uint32_t;
inline constexpr DataObjectHandle kNoDataObject = 0;

namespace DataObjectRegistry {

// Takes the bytes and answers their new handle; kNoDataObject only when no
// handle is left (every 32-bit number in use) or memory ran out.
DataObjectHandle add(Bytes bytes);
// The object of a handle, read-only; null for an unknown handle.
std::shared_ptr<const Bytes> lookup(DataObjectHandle handle);
// Takes the object out of the registry: the handle becomes unknown and the
// caller holds the only reference. No value for an unknown handle.
std::optional<Bytes> adopt(DataObjectHandle handle);
// Drops the object; false for an unknown handle.
bool release(DataObjectHandle handle);
// How many objects the registry holds (for leak checks in tests).
std::size_t count();

} // namespace DataObjectRegistry

} // namespace kdf
