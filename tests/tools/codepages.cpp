// qs-codepages: prints the input and output code pages of the console it
// runs in ("input 866 output 866"), so that a journey can see what a
// program that ended left the console with (Wine's chcp shows the input
// code page only).
#include <windows.h>

#include <cstdio>

int main() {
  std::printf("input %u output %u\n", GetConsoleCP(), GetConsoleOutputCP());
  return 0;
}
