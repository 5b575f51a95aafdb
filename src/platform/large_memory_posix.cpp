#include <sys/mman.h>

#include <new>

#include "platform/large_memory.h"

namespace sentrel {

void* AllocateLarge(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return p;
}

void FreeLarge(void* block, size_t bytes) {
  if (block != nullptr) munmap(block, bytes);
}

}  // namespace sentrel
