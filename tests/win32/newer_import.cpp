// A program that imports GetTickCount64, which Windows XP does not have: the import check must
// refuse it.
#include <windows.h>

int main() { return static_cast<int>(GetTickCount64() & 1); }
