#pragma once

#include <cstddef>

namespace tovik::bench {

/// Number of `operator new` calls in the process so far. The replacement lives in its own
/// source file, so the compiler never sees malloc and free meet across an inlined new/delete.
std::size_t allocationCount();

/// Bytes held through `operator new` now, and the most held at once since the last
/// `resetPeakAllocatedBytes()` (usable sizes of the blocks, as malloc reports them).
std::size_t allocatedBytes();
std::size_t peakAllocatedBytes();
/// Starts a new peak from what is held now.
void resetPeakAllocatedBytes();

}  // namespace tovik::bench
