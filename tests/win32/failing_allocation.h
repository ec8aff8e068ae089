// Makes the program's allocations fail on purpose: while a FailingAllocation lives, the
// allocations of exactly `size` bytes after the first `skip` of them throw std::bad_alloc.
#pragma once
#include <cstddef>

class FailingAllocation {
 public:
  FailingAllocation(size_t size, int skip);
  ~FailingAllocation();
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;
};
