# Sanitizer options for every test of a sanitizer build: the first report ends the test with a
# failure and a stack trace, so no report can scroll by in a passing run.
#
# ctest reads the generated file before it runs any test, and the tests inherit what it sets.
# A per-test ENVIRONMENT property cannot carry these: gtest_discover_tests flattens a list given
# in PROPERTIES, so only the first of several variables would reach the tests.

if(NOT OSTRIM_SANITIZE)
  return()
endif()

set(_ostrim_sanitizer_env "")
if(OSTRIM_SANITIZE MATCHES "address")
  # LeakSanitizer runs too (detect_leaks is on by default on Linux).
  string(APPEND _ostrim_sanitizer_env
    "set(ENV{ASAN_OPTIONS} \"halt_on_error=1:detect_leaks=1:check_initialization_order=1:"
    "strict_init_order=1\")\n"
    "set(ENV{LSAN_OPTIONS} \"suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp\")\n")
endif()
if(OSTRIM_SANITIZE MATCHES "undefined")
  string(APPEND _ostrim_sanitizer_env
    "set(ENV{UBSAN_OPTIONS} \"halt_on_error=1:print_stacktrace=1\")\n")
endif()
if(OSTRIM_SANITIZE MATCHES "thread")
  string(APPEND _ostrim_sanitizer_env
    "set(ENV{TSAN_OPTIONS} \"halt_on_error=1:second_deadlock_stack=1:history_size=4:"
    "suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp\")\n")
endif()

file(WRITE ${PROJECT_BINARY_DIR}/SanitizerEnvironment.cmake ${_ostrim_sanitizer_env})
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES
  ${PROJECT_BINARY_DIR}/SanitizerEnvironment.cmake)
