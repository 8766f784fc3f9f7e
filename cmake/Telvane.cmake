# Helpers every folder uses, so that no library, test or fuzz target is
# declared by hand and none quietly drops out of the build or of ctest.

# telvane_add_library(NAME [SHARED] DEPS dep...)
# Builds every .cc in the calling folder that is not a test as one library.
# Qt's meta-object compiler for a library of widgets. A library left without
# sources is an INTERFACE library and needs none.
function(telvane_enable_automoc target)
  if(TARGET ${target})
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      set_target_properties(${target} PROPERTIES AUTOMOC ON)
    endif()
  endif()
endfunction()

function(telvane_add_library name)
  cmake_parse_arguments(ARG "SHARED" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  list(FILTER sources EXCLUDE REGEX "_test\\.cc$")
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "/${ex}$")
  endforeach()
  if(NOT sources)
    # A folder whose first sources are still being written.
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  if(ARG_SHARED)
    add_library(${name} SHARED ${sources})
  else()
    add_library(${name} STATIC ${sources})
  endif()
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# telvane_add_test(NAME DEPS dep... [SOURCES extra...])
# One test binary per library: every *_test.cc of the calling folder.
# Tests run with a scratch HOME so that nothing touches the user's device.
function(telvane_add_test name)
  if(NOT TELVANE_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc)
  if(NOT sources AND NOT ARG_SOURCES)
    return()
  endif()
  add_executable(${name} ${sources} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} telvane_testing
                        GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT
      "TELVANE_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/bin;TELVANE_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
      TIMEOUT 300)
endfunction()

# telvane_add_fuzzer(NAME SOURCE DEPS dep...)
function(telvane_add_fuzzer name source)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY TELVANE_FUZZERS ${name})
endfunction()

# telvane_add_bench(NAME SOURCE DEPS dep...)
function(telvane_add_bench name source)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
endfunction()

# telvane_add_script_test(NAME SCRIPT [ARGS...])
# A test that is a program or script of the source tree run as it stands
# (the crash test): it passes when it exits 0.
function(telvane_add_script_test name script)
  if(NOT TELVANE_TESTS)
    return()
  endif()
  add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/${script} ${ARGN})
  # Alone: such a test starts many processes, and tests that measure how
  # long something waits would share two cores with them.
  set_tests_properties(${name} PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE ENVIRONMENT
    "TELVANE_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/bin;TELVANE_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()
