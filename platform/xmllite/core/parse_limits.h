// The sizes the parser takes, the same for every face over it. Past them a
// document is refused with a message that names the limit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace twxml::xmlcore::limits {

// One token: a text run, a start tag with its attributes, a comment, a
// processing instruction, a CDATA section, the internal subset.
inline constexpr size_t kMaxToken = size_t(1) << 30;
// One name (element, attribute, entity, target).
inline constexpr size_t kMaxName = size_t(16) << 20;
// The XML declaration, "<?xml" to "?>" included; real ones take under 100.
inline constexpr size_t kMaxDeclaration = 4096;
// An encoding name; registered names take at most 45.
inline constexpr size_t kMaxEncodingName = 64;
// Entity expansion: the reader's MaxEntityExpansion bounds the references
// expanded; the bytes they produce (with defaulted attribute values) may
// reach this many per allowed reference plus kInputFactor times the input
// read so far.
inline constexpr uint64_t kBytesPerExpansion = 256;
inline constexpr uint64_t kInputFactor = 8;
// Zero bytes that end the input (a terminator or padding counted into a
// buffer's length) are passed over up to this many; any other NUL is refused.
inline constexpr size_t kMaxTrailingZeros = 4096;

}  // namespace twxml::xmlcore::limits
