#include <new>

#include "platform/large_memory.h"
#include "platform/wide_win32.h"

namespace sentrel {

void* AllocateLarge(size_t bytes) {
  void* p = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void FreeLarge(void* block, size_t) {
  if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace sentrel
