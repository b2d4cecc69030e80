# The fuzz configuration: every library is compiled with libFuzzer's coverage hooks plus
# AddressSanitizer and UndefinedBehaviorSanitizer, so the fuzz targets in fuzz/ see inside
# the code under test. Only Clang ships libFuzzer.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "TOLVANE_FUZZ needs Clang (configure with CC=clang CXX=clang++)")
endif()
if(TOLVANE_SANITIZE)
  message(FATAL_ERROR "TOLVANE_FUZZ brings its own sanitizers; leave TOLVANE_SANITIZE empty")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                    -fno-sanitize-recover=all)
add_link_options(-fsanitize=address,undefined)
