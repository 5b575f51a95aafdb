#ifndef SENTREL_PLATFORM_LARGE_MEMORY_H_
#define SENTREL_PLATFORM_LARGE_MEMORY_H_

#include <cstddef>

namespace sentrel {

// Memory for large arrays (snapshots of big trees) that is taken from the
// system for each array and given back to it as soon as the array is freed.
// A general-purpose heap keeps freed blocks for later, so a snapshot that is
// rebuilt at every check would otherwise leave the previous one's memory
// behind, and an idle item would hold twice what it needs. Pages that were
// never written take no memory. Throws std::bad_alloc when the system has
// none to give.
void* AllocateLarge(size_t bytes);
// `bytes` as given to AllocateLarge.
void FreeLarge(void* block, size_t bytes);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_LARGE_MEMORY_H_
