#include "allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t>& counter() {
  static std::atomic<std::size_t> count{0};
  return count;
}

}  // namespace

std::size_t tovik::bench::allocationCount() { return counter().load(std::memory_order_relaxed); }

// The array forms forward to these by default, so they are counted too.
void* operator new(std::size_t size) {
  counter().fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
