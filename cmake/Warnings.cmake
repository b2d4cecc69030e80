# Applied to the project's own targets only; third-party headers come in as SYSTEM.
function(tolvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  # Checks the lock annotations of Platform/ThreadSafety.h (scripts/check builds with clang).
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE -Wthread-safety)
  endif()
  # g++ 12 at -O3 reports "literal" + std::string as overlapping memcpy (GCC bug 105329), and
  # at -O2 and above it reports std::variant members (Result<T>) as maybe-uninitialized after
  # inlining; both are flow-analysis false positives that break builds with -Werror.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized $<$<CONFIG:Release>:-Wno-restrict>)
  endif()
  if(TOLVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
