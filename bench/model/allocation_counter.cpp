#include "allocation_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t>& counter() {
  static std::atomic<std::size_t> count{0};
  return count;
}

std::atomic<std::size_t>& held() {
  static std::atomic<std::size_t> bytes{0};
  return bytes;
}

std::atomic<std::size_t>& peak() {
  static std::atomic<std::size_t> bytes{0};
  return bytes;
}

void release(void* block) noexcept {
  if (block != nullptr) {
    held().fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
    std::free(block);
  }
}

}  // namespace

std::size_t tovik::bench::allocationCount() { return counter().load(std::memory_order_relaxed); }
std::size_t tovik::bench::allocatedBytes() { return held().load(std::memory_order_relaxed); }
std::size_t tovik::bench::peakAllocatedBytes() { return peak().load(std::memory_order_relaxed); }
void tovik::bench::resetPeakAllocatedBytes() { peak().store(held().load(std::memory_order_relaxed)); }

// The array forms forward to these by default, so they are counted too.
void* operator new(std::size_t size) {
  counter().fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    const std::size_t usable = malloc_usable_size(block);
    const std::size_t now = held().fetch_add(usable, std::memory_order_relaxed) + usable;
    std::size_t highest = peak().load(std::memory_order_relaxed);
    while (now > highest && !peak().compare_exchange_weak(highest, now, std::memory_order_relaxed)) {
    }
    return block;
  }
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
