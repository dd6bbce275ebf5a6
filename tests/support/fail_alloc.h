// Allocation failure on demand, for the tests of the rule that no exception
// crosses a C entry point. A binary that links zeb_fail_alloc gets an
// operator new that fails while a FailAllocations guard is armed, and an
// operator delete that can look at a block before it is freed; both can keep
// a list of the blocks that are live.
#pragma once

#include <cstddef>

namespace zt {

// The first `after` allocations under the guard succeed, then every one fails
// (std::bad_alloc, or null for the nothrow forms).
class FailAllocations {
 public:
  explicit FailAllocations(long after);
  ~FailAllocations();
  FailAllocations(const FailAllocations&) = delete;
  FailAllocations& operator=(const FailAllocations&) = delete;
  // Whether an allocation was made to fail.
  bool fired() const;
};

// Lets test scaffolding (stand-ins, loggers) allocate while a guard is armed.
class AllowAllocations {
 public:
  AllowAllocations();
  ~AllowAllocations();
  AllowAllocations(const AllowAllocations&) = delete;
  AllowAllocations& operator=(const AllowAllocations&) = delete;
};

// Watches one heap block: when operator delete frees it, records whether its
// first `n` bytes were all zero at that moment (for holders that must wipe
// secrets before they give memory back).
class WatchFree {
 public:
  WatchFree(const void* block, std::size_t n);
  ~WatchFree();
  WatchFree(const WatchFree&) = delete;
  WatchFree& operator=(const WatchFree&) = delete;
  bool freed() const;
  bool was_zero() const;
};

// Keeps the address and size of every block allocated while it lives, and
// forgets a block when it is freed: whether some bytes (a secret that must be
// wiped and released) are still held in memory that was allocated meanwhile.
// One tracker at a time.
class TrackLiveBlocks {
 public:
  TrackLiveBlocks();
  ~TrackLiveBlocks();
  TrackLiveBlocks(const TrackLiveBlocks&) = delete;
  TrackLiveBlocks& operator=(const TrackLiveBlocks&) = delete;
  // Whether a block allocated under the tracker and not freed since holds
  // the `n` bytes at `needle`.
  bool holds(const void* needle, std::size_t n) const;
  // False when more blocks were live at once than the tracker keeps.
  bool complete() const;
};

}  // namespace zt

namespace zt {

// Runs `call` with the first, second, ... allocation under it failing, until
// a run completes without a failure; `after_each(result, failed)` checks each
// run. Returns the number of runs that had an allocation fail.
template <class Call, class Check>
long sweep_allocation_failures(Call&& call, Check&& after_each) {
  for (long k = 0; k < 100000; ++k) {
    bool failed = false;
    auto rv = [&] {
      FailAllocations f(k);
      auto r = call();
      failed = f.fired();
      return r;
    }();
    after_each(rv, failed);
    if (!failed) return k;
  }
  return -1;
}

}  // namespace zt
