# Compiles through ccache when it is installed. CI builds the same sources five ways (plain,
# two sanitizers, clang's analysis, fuzzing), usually in a fresh clone: paths are made
# relative to the source folder and the build folder is left out of the hash, so a clone in
# another folder hits the cache the previous run filled.
option(TOLVANE_CCACHE "Compile through ccache when it is installed" ON)
if(TOLVANE_CCACHE)
  find_program(TOLVANE_CCACHE_PROGRAM ccache)
  if(TOLVANE_CCACHE_PROGRAM)
    set(launcher ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=true
        CCACHE_MAXSIZE=8G ${TOLVANE_CCACHE_PROGRAM})
    set(CMAKE_C_COMPILER_LAUNCHER ${launcher})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${launcher})
  endif()
endif()
