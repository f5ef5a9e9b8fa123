# Shared helpers for the subsystem folders.

set(VARNEL_WARNINGS -Wall -Wextra)
if(VARNEL_WERROR)
  list(APPEND VARNEL_WARNINGS -Werror)
endif()

# varnel_library(name SOURCES ... [DEPS ...]): static library `name`, alias
# varnel::name, headers included from the repository root.
function(varnel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  add_library(varnel::${name} ALIAS ${name})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${VARNEL_WARNINGS})
  if(ARG_DEPS)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# varnel_test(name SOURCES ... [DEPS ...]): a GoogleTest executable registered
# with ctest, one ctest entry per test case.
function(varnel_test name)
  if(NOT VARNEL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${VARNEL_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
