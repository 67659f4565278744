# The Windows program: the same portable core over the Win32 adapters of
# platform/win32, built with mingw-w64 (see cmake/mingw-w64-i686.cmake)
# and tested under wine. Included by the top-level CMakeLists.txt in place of
# the Linux adapters, which need libraries Debian does not build for Windows
# (SQLite, libcurl).

enable_language(RC)

# The C and C++ runtimes and the thread library are linked into each
# executable, so nothing but system DLLs has to be shipped beside it.
add_link_options(-static)
# The Windows headers' 8-bit ("A") calls, without the parts of windows.h
# nobody here uses; no min/max macros to clash with the standard library's.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

# Header-only libraries of the host (CLI11, nlohmann-json) for the core and
# the companion tool: each one's own folder only, never the host's system
# headers.
set(HHSYNC_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${HHSYNC_HOST_HEADERS})
foreach(dir CLI nlohmann)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: install libcli11-dev and nlohmann-json3-dev")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${HHSYNC_HOST_HEADERS}/${dir} SYMBOLIC)
endforeach()
# The core writes the run's report with nlohmann-json.
target_include_directories(hhsync_core SYSTEM PUBLIC ${HHSYNC_HOST_HEADERS})

# The Windows adapters of the ports, and the window-less front end, which
# is portable.
file(GLOB WIN32_ADAPTER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/*.cc)
list(REMOVE_ITEM WIN32_ADAPTER_SOURCES
  ${CMAKE_SOURCE_DIR}/platform/win32/win32_main.cc
  ${CMAKE_SOURCE_DIR}/platform/win32/win32_locations.cc)
add_library(hhsync_win32 STATIC ${WIN32_ADAPTER_SOURCES} ${CMAKE_SOURCE_DIR}/platform/none/none_ui.cc)
target_link_libraries(hhsync_win32 PUBLIC hhsync_core wininet ws2_32 shell32 user32 gdi32
  comctl32 advapi32)

# The program's resources (dialog templates, the logo bitmap) go into each
# executable that shows the Windows front end.
set(HHSYNC_RESOURCES ${CMAKE_SOURCE_DIR}/res/hhsync.rc)
set_property(SOURCE ${HHSYNC_RESOURCES} APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_SOURCE_DIR}/res/hhsync_ids.h ${CMAKE_SOURCE_DIR}/res/logo_131.bmp
  ${CMAKE_SOURCE_DIR}/res/hhsync.ico ${CMAKE_SOURCE_DIR}/res/hhsync.manifest)

# A windows-subsystem program, as the desktop starts it after a connection:
# no console window opens. Standard error still reaches a caller that
# redirects it (the summary line, the window-less front end's lines).
add_executable(hhsync WIN32 ${CMAKE_SOURCE_DIR}/platform/win32/win32_main.cc ${HHSYNC_RESOURCES})
target_include_directories(hhsync PRIVATE ${CMAKE_SOURCE_DIR}/res)
target_link_libraries(hhsync PRIVATE hhsync_win32)

# The companion tool's groups that need no emulated handheld: S.DAT and .edm
# files. The handheld image, the reference server and the registry store
# stay with the Linux tool (on Windows the registry is the system's).
add_executable(hhctl
  ${CMAKE_SOURCE_DIR}/tools/hhctl/main.cc
  ${CMAKE_SOURCE_DIR}/tools/hhctl/command.cc
  ${CMAKE_SOURCE_DIR}/tools/hhctl/sdat_command.cc
  ${CMAKE_SOURCE_DIR}/tools/hhctl/edm_command.cc
  ${CMAKE_SOURCE_DIR}/platform/win32/win32_locations.cc)
target_include_directories(hhctl PRIVATE ${CMAKE_SOURCE_DIR}/tools/hhctl ${HHSYNC_HOST_HEADERS})
target_link_libraries(hhctl PRIVATE hhsync_core hhsync_win32)

# Tests, run under wine by scripts/test-windows: the Win32 adapters against
# the system they wrap (wine's registry, shell, WinINet on loopback), and the
# portable unit tests that need no emulated handheld. GoogleTest is built
# from Debian's googletest sources.
include(CTest)
if(BUILD_TESTING)
  set(HHSYNC_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${HHSYNC_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

  add_executable(hhsync_probe ${CMAKE_SOURCE_DIR}/tests/win32/probe.cc)

  # The test stand-in for the device software's rapi.dll: each call goes to
  # hhsync_rapi_bridge of the Linux build over loopback. Built into a folder
  # of its own, so that it sits beside hhsync.exe only where a test puts it.
  add_library(hhsync_test_rapi SHARED ${CMAKE_SOURCE_DIR}/tests/rapi_bridge/rapi_dll.cc
    ${CMAKE_SOURCE_DIR}/tests/rapi_bridge/rapi_wire.cc)
  set_target_properties(hhsync_test_rapi PROPERTIES OUTPUT_NAME rapi PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test-device)
  target_include_directories(hhsync_test_rapi PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(hhsync_test_rapi PRIVATE hhsync_core ws2_32)
  # The device library exports its stdcall entry points by their plain
  # names, as the program looks them up (a 32-bit build would add "@n").
  target_link_options(hhsync_test_rapi PRIVATE -Wl,--kill-at)

  file(GLOB WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*.cc)
  list(REMOVE_ITEM WIN32_TEST_SOURCES ${CMAKE_SOURCE_DIR}/tests/win32/probe.cc)
  add_executable(hhsync_win32_tests ${WIN32_TEST_SOURCES}
    ${CMAKE_SOURCE_DIR}/tests/unit/tokenizer_test.cc
    ${CMAKE_SOURCE_DIR}/tests/unit/command_line_test.cc)
  target_sources(hhsync_win32_tests PRIVATE ${HHSYNC_RESOURCES})
  target_include_directories(hhsync_win32_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests
    ${CMAKE_SOURCE_DIR}/res)
  target_link_libraries(hhsync_win32_tests PRIVATE hhsync_win32 GTest::gtest GTest::gtest_main)
  add_dependencies(hhsync_win32_tests hhsync_probe hhsync_test_rapi)
  add_test(NAME win32 COMMAND hhsync_win32_tests)
endif()
