// The win32 tests' own operator new: the one of the C++ library, but for the sizes a
// FailingAllocation names.
#include "failing_allocation.h"

#include <cstdlib>
#include <new>

namespace {

size_t FailSize = 0;
int Skip = 0;
bool Armed = false;

}  // namespace

FailingAllocation::FailingAllocation(size_t size, int skip) {
  FailSize = size;
  Skip = skip;
  Armed = true;
}

FailingAllocation::~FailingAllocation() { Armed = false; }

void* operator new(size_t size) {
  if (Armed && size == FailSize && Skip-- <= 0) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
