# Shared helpers for the module and test CMake files.

# brindlemoor_library(name SOURCES ... DEPS ...): a static library for one module,
# whose headers are included as "module/file.hpp" from the source root.
function(brindlemoor_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# brindlemoor_test(name SOURCES ... DEPS ... [LABELS ...] [RESOURCE_LOCK ...] [NEEDS_DISPLAY]):
# one GoogleTest executable registered as one ctest test. Under the Windows
# cross build ctest runs it through CMAKE_CROSSCOMPILING_EMULATOR (wine);
# NEEDS_DISPLAY (tests that create real windows) runs that under xvfb-run.
function(brindlemoor_test name)
  cmake_parse_arguments(ARG "NEEDS_DISPLAY" "TIMEOUT" "SOURCES;DEPS;LABELS;RESOURCE_LOCK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} brindlemoor_test_main GTest::gtest GTest::gmock)
  if(ARG_NEEDS_DISPLAY AND CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/support/with_display.sh
      ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
    # Two xvfb-run started together may pick the same display; wine's windows then fail.
    list(APPEND ARG_RESOURCE_LOCK xdisplay)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if(ARG_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
endfunction()

# brindlemoor_fuzzer(name SOURCES ... DEPS ...): a libFuzzer target, built only
# in the fuzzing configuration (clang, BRINDLEMOOR_FUZZ=ON).
function(brindlemoor_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT BRINDLEMOOR_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
