if(TOLVANE_SANITIZE)
  if(NOT TOLVANE_SANITIZE MATCHES "^(address,undefined|undefined,address|address|undefined|thread)$")
    message(FATAL_ERROR "TOLVANE_SANITIZE must be 'address,undefined' or 'thread', not '${TOLVANE_SANITIZE}'")
  endif()
  add_compile_options(-fsanitize=${TOLVANE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TOLVANE_SANITIZE})
  # g++'s instrumentation confuses its own flow analysis: std::regex and std::variant code
  # draws maybe-uninitialized warnings only in sanitizer builds. The plain build keeps it.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()
