#pragma once

#include <cstddef>

namespace tovik::bench {

/// Number of `operator new` calls in the process so far. The replacement lives in its own
/// source file, so the compiler never sees malloc and free meet across an inlined new/delete.
std::size_t allocationCount();

}  // namespace tovik::bench
