# The tests of the Windows build. Included from tests/CMakeLists.txt when building for Windows.
set(OSTRIM_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest's source (Debian's googletest package), built here with the cross compiler")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${OSTRIM_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its own code is not ours to keep warning-free.
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)

set(OSTRIM_TEST_DATA_DIR "${CMAKE_CURRENT_SOURCE_DIR}/data")

# The core's tests, but those that make POSIX calls themselves (scratch folders, time zones,
# locales) or run the Linux replay program.
file(GLOB_RECURSE WIN_CORE_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
list(FILTER WIN_CORE_TESTS EXCLUDE REGEX "_(pty|qt)_test\\.cpp$")
list(FILTER WIN_CORE_TESTS EXCLUDE REGEX "/win32/")
list(FILTER WIN_CORE_TESTS EXCLUDE REGEX "/(LogFiles|SensorFile|Replay)_test\\.cpp$")
add_executable(ostrim_core_tests ${WIN_CORE_TESTS} win32/Win32Files_test.cpp)
target_link_libraries(ostrim_core_tests PRIVATE ostrim_core ostrim_replay gtest gtest_main)
target_include_directories(ostrim_core_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(ostrim_core_tests PRIVATE
  OSTRIM_TEST_DATA_DIR="${OSTRIM_TEST_DATA_DIR}" OSTRIM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
# Wine reads the Linux paths of the test data through its Z: drive. One Wine start for the whole
# suite: a start per test would take most of the stage's time.
add_test(NAME ostrim_core_tests COMMAND ostrim_core_tests)

# The Windows dialog's parts that need no display (*_win32_test.cpp), in one Wine start too.
file(GLOB_RECURSE WIN_DIALOG_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_win32_test.cpp)
if(TARGET ostrim_win32 AND WIN_DIALOG_TESTS)
  add_executable(ostrim_win32_tests ${WIN_DIALOG_TESTS})
  target_link_libraries(ostrim_win32_tests PRIVATE ostrim_win32 gtest gtest_main)
  target_include_directories(ostrim_win32_tests PRIVATE ${PROJECT_SOURCE_DIR})
  add_test(NAME ostrim_win32_tests COMMAND ostrim_win32_tests)
endif()

# The Win32 serial layer against pseudo-terminals mapped as COM ports; run by
# tests/win32/serial.wine.sh, which holds the ports' far side on Linux.
add_executable(ostrim_win32_serial_tests win32/Win32Serial_wine_test.cpp)
target_link_libraries(ostrim_win32_serial_tests PRIVATE ostrim_serial gtest gtest_main)
target_include_directories(ostrim_win32_serial_tests PRIVATE ${PROJECT_SOURCE_DIR})

# The console program prints the version project() sets, as ostrim does.
string(REPLACE "." "\\." version_pattern "${PROJECT_VERSION}")
add_test(NAME ostrim_cli_version COMMAND ostrim-cli --version)
set_tests_properties(ostrim_cli_version PROPERTIES PASS_REGULAR_EXPRESSION "^ostrim ${version_pattern}\r?\n$")

# The Windows dialog itself, made from the program's resources; it needs a display, so
# tests/win32/dialog.wine.sh runs it on its virtual one.
if(TARGET ostrim_win32)
  add_executable(ostrim_win32_dialog_tests win32/MainDialog_wine_test.cpp ${PROJECT_SOURCE_DIR}/res/ostrim.rc)
  target_link_libraries(ostrim_win32_dialog_tests PRIVATE ostrim_win32 gtest gtest_main)
  # res/ for the icon file the resource script names.
  target_include_directories(ostrim_win32_dialog_tests PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/res)
endif()
