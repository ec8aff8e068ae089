// impborl.dll's own start-up and the few memory routines the compiler calls. The library has no
// C runtime: it imports kernel32.dll alone, and its tables are built here, on loading, into
// zero-initialised memory, so that they cost no bytes in the file.
#include <windows.h>

#include <cstddef>

#include "dcl_tables.h"

extern "C" BOOL WINAPI DllEntry(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    dcl::BuildTables();
  }
  return TRUE;
}

// The string instructions copy and fill at full speed on every x86 of this century.
extern "C" void* memcpy(void* to, const void* from, size_t size) {
  void* d = to;
  asm volatile("rep movsb" : "+D"(d), "+S"(from), "+c"(size) : : "memory");
  return to;
}

extern "C" void* memmove(void* to, const void* from, size_t size) {
  auto* d = static_cast<unsigned char*>(to);
  const auto* s = static_cast<const unsigned char*>(from);
  if (d <= s || d >= s + size) return memcpy(to, from, size);
  // Overlapping with the source first: copy backwards.
  d += size - 1;
  s += size - 1;
  asm volatile("std\n\trep movsb\n\tcld" : "+D"(d), "+S"(s), "+c"(size) : : "memory");
  return to;
}

extern "C" void* memset(void* to, int value, size_t size) {
  void* d = to;
  asm volatile("rep stosb" : "+D"(d), "+c"(size) : "a"(value) : "memory");
  return to;
}
