// The kernel allocator's registry of its live blocks. Internal to the
// library: the handle interface asks it whether a pointer is one of its open
// records without touching the memory behind the pointer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace twxml::kernel {

// What a live block holds, as far as the kernel's callers told it.
enum class BlockKind : uint8_t { Plain = 0, ReaderHandle = 1, WriterHandle = 2 };

// Records a new block; false when the registry could not grow (the caller
// then frees the block and reports exhaustion).
bool RegisterBlock(void* p, size_t size);
// Forgets a block; false when p is not a live block. Its registered size
// goes to *size when size is not null.
bool UnregisterBlock(const void* p, size_t* size = nullptr);
// Tags a live block; false when p is not one.
bool MarkBlock(const void* p, BlockKind kind);
// True when p starts a live block of at least size bytes; its kind in *kind.
// Never touches the memory at p.
bool FindBlock(const void* p, size_t size, BlockKind* kind);

inline bool IsLiveBlock(const void* p, size_t size, BlockKind kind) {
  BlockKind found = BlockKind::Plain;
  return FindBlock(p, size, &found) && found == kind;
}

}  // namespace twxml::kernel
