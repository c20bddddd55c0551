#pragma once

#include <cstddef>

namespace velgor {

// How much freed memory may stay at the top of the heap for reuse.
inline constexpr std::size_t KEPT_HEAP_TOP = 1024 * 1024;

// Keeps up to KEPT_HEAP_TOP of freed memory at the top of the heap instead of
// giving it back to the system at once. zlib's `compress` allocates and frees
// about 270 KiB of working state on every call; given back each time (glibc does
// so past 128 KiB), every call faulted those pages in and zeroed them again, and
// gave them back with a TLB flush on the other core: a third of the relay's time
// with compression on. Where the C library has no such threshold it does nothing.
void keepFreedHeapTop();

}  // namespace velgor
