// Filling a growable memory stream in place: a producer that knows how many
// bytes it will write (a saved document) asks for the room once and writes
// straight into it, instead of growing the block by doubling through WriteF.
#pragma once

#include "twxml/kxstream.h"

namespace twxml::kernel {

// Room for count more bytes at the end of a growable memory stream made by
// StreamCreateMemStreamP, or null (any other stream, or no memory): the
// caller then writes through WriteF as usual.
char* MemStreamRoom(KxStream* stream, unsigned int count);
// Counts the count bytes written into that room as the stream's content.
void MemStreamCommit(KxStream* stream, unsigned int count);

}  // namespace twxml::kernel
