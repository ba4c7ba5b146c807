# zu_build_flags: the warning and sanitizer flags of this project's own
# targets. Every target the project defines links it privately (zu_test,
# zu_bench and zu_fuzz do so for the targets they make):
#
#   target_link_libraries(my_target PRIVATE zu_build_flags)
#
# Nothing is set for the whole directory tree, so a parent project that adds
# zu with add_subdirectory keeps its own flags for its own targets.
add_library(zu_build_flags INTERFACE)

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(zu_build_flags INTERFACE -Wall -Wextra)
  set(sanitizers "")
  if(ZU_SANITIZE OR ZU_BUILD_FUZZ)
    set(sanitizers -fsanitize=address,undefined)
    target_compile_options(zu_build_flags INTERFACE -fno-sanitize-recover=undefined
                           -fno-omit-frame-pointer)
  endif()
  if(ZU_SANITIZE_THREAD)
    set(sanitizers -fsanitize=thread)
  endif()
  target_compile_options(zu_build_flags INTERFACE ${sanitizers})
  target_link_options(zu_build_flags INTERFACE ${sanitizers})
endif()

if(ZU_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZU_BUILD_FUZZ needs clang, whose libFuzzer the targets use")
  endif()
  # Everything gets coverage instrumentation; only the fuzz targets link
  # libFuzzer itself.
  target_compile_options(zu_build_flags INTERFACE -fsanitize=fuzzer-no-link)
endif()
