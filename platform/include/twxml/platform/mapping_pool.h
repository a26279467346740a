// Large blocks of memory kept mapped from one user to the next. Faulting in
// fresh pages costs more than filling them, so a document loaded or written
// once more would otherwise pay for every page again: a mapping that is given
// back stays mapped, up to a process-wide limit, for the next user of its
// kind. Internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace twxml::win32::pool {

// What a kept mapping held: a user takes one of its own kind, whose size
// suits it best.
enum Role : uint8_t { kDomNodes, kDomText, kDomInput, kBuilderText, kKernelBlocks, kRoles };

inline constexpr size_t kPage = 4096;  // the smallest page size there is
// Buffers from this size on are worth a pooled mapping; smaller ones are
// served well enough by the heap.
inline constexpr size_t kLarge = size_t(1) << 20;

/* With fits 0, the role's largest kept mapping; otherwise the smallest of at
   least fits bytes, or the largest when none is that large. Null when none is
   kept. *bytes is its size, *touched how much of it was written before. */
void* Take(Role role, size_t fits, size_t* bytes, size_t* touched);
/* Gives a mapping back. touched is the high-water mark of what was written,
   or kResident to have the pool ask the kernel. It is kept, and the mappings
   kept longest go while the pool is over its limit; one that could never fit
   is unmapped. */
inline constexpr size_t kResident = SIZE_MAX;
void Give(Role role, void* p, size_t bytes, size_t touched);
/* A fresh mapping of bytes (a multiple of kPage); null when refused. */
void* Map(size_t bytes);
/* Makes (p, *bytes) hold at least need bytes, at most limit (a multiple of
   kPage): a null p first takes the role's largest kept mapping (and its
   *touched); then the size doubles from 64 KiB, moving the mapping if it
   must. Null when refused or need exceeds limit; p is then as it was. */
void* Grow(Role role, void* p, size_t* bytes, size_t need, size_t limit, size_t* touched);
/* Tells the address checker (when built with it) that the holder of a
   mapping leaves these bytes of it alone. */
void MarkUnused(void* p, size_t bytes);
/* Bytes the pool keeps written. */
size_t KeptBytes();

}  // namespace twxml::win32::pool
