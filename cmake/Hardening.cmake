# The hardening Debian builds its packages with: dpkg-buildflags with every hardening feature
# on (fortified libc calls, stack protector, format checks, read-only relocations bound at
# start-up). Only those flags are taken from it, never -O, -g or -ffile-prefix-map: the
# latter holds the source folder's absolute path and would give every clone its own objects,
# which the compiler cache could not share. The sanitizer and fuzz builds bring their own
# instrumentation and stay as they are.
option(TOLVANE_HARDENING "Compile and link with Debian's hardening flags" ON)
if(NOT TOLVANE_HARDENING OR TOLVANE_SANITIZE OR TOLVANE_FUZZ)
  return()
endif()

find_program(TOLVANE_DPKG_BUILDFLAGS dpkg-buildflags)
set(hardening_flags)
if(TOLVANE_DPKG_BUILDFLAGS)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${TOLVANE_DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(APPEND hardening_flags ${flags})
  endforeach()
else()
  # What dpkg-buildflags answers on Debian 12.
  set(hardening_flags -D_FORTIFY_SOURCE=2 -fstack-protector-strong -Wformat
      -Werror=format-security -Wl,-z,relro -Wl,-z,now)
endif()
list(FILTER hardening_flags INCLUDE REGEX
  "^(-D_FORTIFY_SOURCE=[0-9]+|-fstack-protector[-a-z]*|-fstack-clash-protection|-fcf-protection[=a-z]*|-mbranch-protection=[-+a-z]+|-Wformat(=[0-9])?|-Werror=format-security|-Wl,-z,(relro|now))$")
list(REMOVE_DUPLICATES hardening_flags)

# Debian adds these two from dpkg 1.22 on; both compilers the project builds with have them.
include(CheckCXXCompilerFlag)
foreach(flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "TOLVANE_HAS${flag}" supported)
  check_cxx_compiler_flag(${flag} ${supported})
  if(${supported} AND NOT flag IN_LIST hardening_flags)
    list(APPEND hardening_flags ${flag})
  endif()
endforeach()

foreach(flag IN LISTS hardening_flags)
  if(flag MATCHES "^-Wl,")
    add_link_options(${flag})
  elseif(flag MATCHES "^-D_FORTIFY_SOURCE")
    # Fortified calls need the optimizer; glibc warns about them in an unoptimized build.
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
  else()
    add_compile_options(${flag})
  endif()
endforeach()
message(STATUS "Hardening flags: ${hardening_flags}")
