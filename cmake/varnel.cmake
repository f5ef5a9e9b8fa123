# Shared helpers for the subsystem folders.

set(VARNEL_WARNINGS -Wall -Wextra)
# GCC 12 reports -Wrestrict for "literal" + std::string at -O2/-O3 (GCC bug
# 105329, fixed in 13); with warnings as errors that breaks optimised builds.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND VARNEL_WARNINGS -Wno-restrict)
endif()

# A fuzz build instruments every library for coverage, not only the fuzz
# entry points, or libFuzzer would get no feedback from the code under test.
if(VARNEL_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
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

# varnel_fuzz_targets(DEPS ...): every tests/fuzz/*.cpp of the calling folder
# becomes a libFuzzer executable, built only with VARNEL_BUILD_FUZZ (clang).
function(varnel_fuzz_targets)
  if(NOT VARNEL_BUILD_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB fuzzers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz/*.cpp)
  foreach(src ${fuzzers})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  endforeach()
endfunction()
