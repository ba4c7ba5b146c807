# Configures a parent project that adds zu with add_subdirectory, with zu's
# sanitizers on, and checks its compile commands: zu's warning and
# sanitizer flags are on zu's sources and not on the parent's host, and
# zu's tests are not part of the parent's build.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/parent -B ${WORK_DIR} -G ${GENERATOR}
    -DZU_SOURCE_DIR=${ZU_SOURCE_DIR} -DZU_SANITIZE=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring the parent project failed (${rc}):\n${out}\n${err}")
endif()

file(READ ${WORK_DIR}/compile_commands.json commands)
string(JSON count LENGTH "${commands}")
math(EXPR last "${count} - 1")
set(seen "")
foreach(i RANGE ${last})
  string(JSON file GET "${commands}" ${i} file)
  string(JSON command GET "${commands}" ${i} command)
  if(file MATCHES "consumer/main\\.cpp$")
    list(APPEND seen host)
    if(command MATCHES "-Wall|-Wextra|-fsanitize")
      message(FATAL_ERROR "zu's flags reached the parent's host: ${command}")
    endif()
  elseif(file MATCHES "misc/zustring\\.cpp$")
    list(APPEND seen library)
    if(NOT command MATCHES "-Wall" OR NOT command MATCHES "-fsanitize=address")
      message(FATAL_ERROR "zu's own flags are missing on zu: ${command}")
    endif()
  elseif(file MATCHES "_test\\.cpp$")
    message(FATAL_ERROR "zu's tests are part of the parent's build: ${file}")
  endif()
endforeach()
if(NOT seen STREQUAL "library;host" AND NOT seen STREQUAL "host;library")
  message(FATAL_ERROR "expected the host and zustring.cpp among the compile commands, saw: ${seen}")
endif()
