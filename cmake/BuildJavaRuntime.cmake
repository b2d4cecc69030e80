# Cuts the bundled Java runtime from the installed JDK with jlink and zips it:
#   cmake -DJLINK=<jlink> -DZIP=<zip> -DMODULES=<a,b,c> -DOUTPUT=<java.zip> -DWORK=<folder>
#         [-DCACHE_DIR=<folder>] -P BuildJavaRuntime.cmake
# jlink and zip take a minute or more, and every build folder (plain, sanitizers) needs the
# same archive: with CACHE_DIR, an archive made from the same JDK build and modules is
# reused from there.
foreach(variable JLINK ZIP MODULES OUTPUT WORK)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "BuildJavaRuntime.cmake needs -D${variable}=...")
  endif()
endforeach()
set(jlink_options --strip-debug --no-man-pages --no-header-files --compress=2)

if(CACHE_DIR)
  # The JDK's "release" file names its exact build; a JDK update makes a new key.
  file(REAL_PATH ${JLINK} jlink_real)
  get_filename_component(jdk_home ${jlink_real} DIRECTORY)
  get_filename_component(jdk_home ${jdk_home} DIRECTORY)
  set(release "")
  if(EXISTS ${jdk_home}/release)
    file(READ ${jdk_home}/release release)
  endif()
  execute_process(COMMAND ${JLINK} --version OUTPUT_VARIABLE version COMMAND_ERROR_IS_FATAL ANY)
  string(SHA256 key "${version}\n${release}\n${MODULES}\n${jlink_options}")
  set(cached ${CACHE_DIR}/${key}.zip)
  if(EXISTS ${cached})
    file(COPY_FILE ${cached} ${OUTPUT})
    message(STATUS "Bundled Java runtime reused from ${cached}")
    return()
  endif()
endif()

file(REMOVE_RECURSE ${WORK} ${OUTPUT})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${JLINK} --add-modules ${MODULES} ${jlink_options} --output ${WORK}/java
                COMMAND_ERROR_IS_FATAL ANY)
# -y keeps links as links; zip stores the Unix permission bits, so bin/java stays executable
# when unzip restores it.
execute_process(COMMAND ${ZIP} -r -q -y ${OUTPUT} java WORKING_DIRECTORY ${WORK}
                COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${WORK})

if(CACHE_DIR)
  # Copied under a temporary name and renamed, so a build running beside this one never
  # takes a half-written archive.
  file(MAKE_DIRECTORY ${CACHE_DIR})
  string(RANDOM LENGTH 8 suffix)
  file(COPY_FILE ${OUTPUT} ${cached}.${suffix})
  file(RENAME ${cached}.${suffix} ${cached})
  # Archives of older JDK builds are of no further use.
  file(GLOB stale ${CACHE_DIR}/*.zip)
  list(REMOVE_ITEM stale ${cached})
  if(stale)
    file(REMOVE ${stale})
  endif()
endif()
