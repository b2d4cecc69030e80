#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "Platform/OperatingSystem.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// Test programs end the way the installer does: at once, without running static destructors.
// Network threads and queue workers are detached and may still be releasing a session a test
// dropped; destructors of statics they use must not run underneath them at exit.
int main(int argc, char** argv) {
  tolvane::platform::os::recordCommandLine(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  // The platform's texts follow the locale: tests, and the programs they start, see the
  // English ones unless a test picks a language itself.
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) ::unsetenv(name);
  ::setenv("LANG", "C.UTF-8", 1);
  const int result = RUN_ALL_TESTS();
  std::fflush(stdout);
  std::fflush(stderr);
#if defined(__SANITIZE_ADDRESS__)
  // _Exit skips LeakSanitizer's exit-time check; run it here instead.
  if (result == 0 && __lsan_do_recoverable_leak_check() != 0) std::_Exit(1);
#endif
  std::_Exit(result);
}
