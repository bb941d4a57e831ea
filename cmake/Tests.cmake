# GoogleTest from the sources of Debian's googletest package: no download at build time.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(TESTS ${CMAKE_SOURCE_DIR}/tests)

# Helpers shared by the tests (child processes, temporary folders), one file per platform.
file(GLOB VANTREL_TEST_SUPPORT CONFIGURE_DEPENDS
  ${TESTS}/support/*.cpp
  ${TESTS}/support/${VANTREL_PLATFORM}/*.cpp)
add_library(vttestsupport STATIC ${VANTREL_TEST_SUPPORT})
target_include_directories(vttestsupport PUBLIC ${TESTS}/support)
target_link_libraries(vttestsupport PUBLIC vtapplauncher vtplatform_private gtest gmock)

# Small programs that tests start as child processes; each file is one executable.
file(GLOB VANTREL_TEST_FIXTURES CONFIGURE_DEPENDS ${TESTS}/fixtures/*.cpp)
foreach(fixture ${VANTREL_TEST_FIXTURES})
  get_filename_component(name ${fixture} NAME_WE)
  add_executable(${name} ${fixture})
  target_link_libraries(${name} PRIVATE vtapplauncher vtplatform_private)
endforeach()

# All unit tests of one platform in one binary: a Wine start costs seconds.
file(GLOB_RECURSE VANTREL_UNIT_TESTS CONFIGURE_DEPENDS
  ${TESTS}/share/*.cpp
  ${TESTS}/${VANTREL_PLATFORM}/*.cpp)
add_executable(vantrel_unit_tests ${VANTREL_UNIT_TESTS})
target_link_libraries(vantrel_unit_tests PRIVATE vttestsupport gtest_main)
foreach(fixture ${VANTREL_TEST_FIXTURES})
  get_filename_component(name ${fixture} NAME_WE)
  add_dependencies(vantrel_unit_tests ${name})
endforeach()
# Like the launcher, the tests export the function table for the test runtime to find.
set_target_properties(vantrel_unit_tests PROPERTIES ENABLE_EXPORTS ON)
# The resource writer's tests: a sample icon beside the binary, and on Windows the launchers.
target_link_libraries(vantrel_unit_tests PRIVATE vtpe)
configure_file(${TESTS}/share/native/pe/data/app.ico ${CMAKE_BINARY_DIR}/bin/pe-test.ico COPYONLY)
if(WIN32)
  # The windowed launcher's message box, from the launcher's own floor.
  target_sources(vantrel_unit_tests PRIVATE ${SRC}/windows/native/applauncher/MessageBoxLogAppender.cpp)
  target_include_directories(vantrel_unit_tests PRIVATE ${SRC}/windows/native/applauncher)
  target_link_libraries(vantrel_unit_tests PRIVATE version imagehlp)
  add_dependencies(vantrel_unit_tests vantrel vantrelw)
endif()
add_test(NAME unit_tests COMMAND vantrel_unit_tests)
set_tests_properties(unit_tests PROPERTIES TIMEOUT 900)

include(cmake/TestRuntimes.cmake OPTIONAL)
include(cmake/JavaTestPrograms.cmake OPTIONAL)

# Whole-executable tests: the launcher in real application images, with the test runtime.
file(GLOB VANTREL_LAUNCHER_TESTS CONFIGURE_DEPENDS ${TESTS}/launcher/${VANTREL_PLATFORM}/*.cpp)
if(VANTREL_LAUNCHER_TESTS AND TARGET vantrel)
  add_executable(vantrel_launcher_tests ${VANTREL_LAUNCHER_TESTS})
  target_include_directories(vantrel_launcher_tests PRIVATE ${TESTS}/runtime)
  target_link_libraries(vantrel_launcher_tests PRIVATE vttestsupport gtest_main)
  add_dependencies(vantrel_launcher_tests vantrel vantrel_unit_tests)
  add_test(NAME launcher_tests COMMAND vantrel_launcher_tests)
  set_tests_properties(launcher_tests PROPERTIES TIMEOUT 900)
  if(TARGET vantrelw)
    # The windowed launcher passes the same cases with its error stream redirected; console
    # events don't reach a windowed process.
    add_dependencies(vantrel_launcher_tests vantrelw)
    add_test(NAME windowed_launcher_tests COMMAND vantrel_launcher_tests
      --gtest_filter=-LauncherRestart.ConsoleEventsAreLeftToTheCopy)
    set_tests_properties(windowed_launcher_tests PROPERTIES TIMEOUT 900
      ENVIRONMENT VANTREL_TEST_LAUNCHER=vantrelw.exe)
  endif()
endif()

include(cmake/Bench.cmake OPTIONAL)
include(cmake/LinuxLauncherTests.cmake OPTIONAL)
