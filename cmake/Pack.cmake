# vantrel-pack: the tool, its tests, and the install rules and archive of the distribution.
set(VANTREL_VERSION 0.1.0)

if(WIN32)
  set(pack_main ${SRC}/windows/native/pack/WinPackMain.cpp)
  set(launcher_platform windows-x86_64)
else()
  set(pack_main ${SRC}/linux/native/pack/LinuxPackMain.cpp)
  set(launcher_platform linux-${CMAKE_SYSTEM_PROCESSOR})
endif()

file(GLOB VANTREL_PACK_SOURCES CONFIGURE_DEPENDS ${SRC}/share/native/pack/*.cpp
  ${SRC}/share/native/pack/packages/*.cpp ${SRC}/share/native/pack/site/*.cpp)
add_library(vtpack STATIC ${VANTREL_PACK_SOURCES})
# The host is the pack floor's platform file; the entry is the executable's alone.
vantrel_platform_sources(vtpack pack)
get_target_property(pack_sources vtpack SOURCES)
list(REMOVE_ITEM pack_sources ${pack_main})
set_property(TARGET vtpack PROPERTY SOURCES ${pack_sources})
target_include_directories(vtpack PUBLIC ${SRC}/share/native/pack ${SRC}/share/native/pack/packages
  ${SRC}/share/native/pack/site)
target_link_libraries(vtpack PUBLIC vtapplauncher vtpe)
target_compile_definitions(vtpack PRIVATE VANTREL_VERSION="${VANTREL_VERSION}")

add_executable(vantrel-pack ${pack_main})
target_link_libraries(vantrel-pack PRIVATE vtpack)
if(WIN32)
  target_link_options(vantrel-pack PRIVATE -municode)
endif()

# The build tree holds the launchers where an installation does, so that the tool built here
# finds them as an installed one does.
set(VANTREL_BUILD_LAUNCHERS ${CMAKE_BINARY_DIR}/share/vantrel/launchers/${launcher_platform})
foreach(launcher vantrel vantrelw)
  if(TARGET ${launcher})
    add_custom_command(TARGET ${launcher} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${VANTREL_BUILD_LAUNCHERS}
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${launcher}> ${VANTREL_BUILD_LAUNCHERS}/
      VERBATIM)
    install(TARGETS ${launcher} RUNTIME
      DESTINATION share/vantrel/launchers/${launcher_platform} COMPONENT launchers)
  endif()
endforeach()
install(TARGETS vantrel-pack RUNTIME DESTINATION bin COMPONENT tool)
install(FILES README.md LICENSE DESTINATION . COMPONENT tool OPTIONAL)

if(TARGET vantrel_unit_tests)
  target_link_libraries(vantrel_unit_tests PRIVATE vtpack)
endif()

# Whole-tool tests: images packed and started. On Linux with the machine's JDK, so only in
# native, unsanitized builds; on Windows with the test runtime, under Wine.
file(GLOB VANTREL_PACK_TESTS CONFIGURE_DEPENDS ${TESTS}/pack/${VANTREL_PLATFORM}/*.cpp)
if(VANTREL_PACK_TESTS AND TARGET vantrel_unit_tests AND NOT VANTREL_SANITIZE
   AND (WIN32 OR TARGET vantrel_linux_java))
  add_executable(vantrel_pack_tests ${VANTREL_PACK_TESTS})
  target_include_directories(vantrel_pack_tests PRIVATE ${TESTS}/runtime)
  target_link_libraries(vantrel_pack_tests PRIVATE vttestsupport vtpack gtest_main)
  if(WIN32)
    target_link_libraries(vantrel_pack_tests PRIVATE version)
  endif()
  add_dependencies(vantrel_pack_tests vantrel-pack vantrel vantrel_unit_tests)
  if(TARGET vantrel_linux_java)
    add_dependencies(vantrel_pack_tests vantrel_linux_java)
    target_compile_definitions(vantrel_pack_tests PRIVATE
      VANTREL_JAVA_PROGRAMS="${CMAKE_BINARY_DIR}/launcherjava")
  endif()
  add_test(NAME pack_tests COMMAND vantrel_pack_tests)
  set_tests_properties(pack_tests PROPERTIES TIMEOUT 1800)
  if(NOT WIN32)
    # A library that needs one which is installed nowhere, with no run path to it.
    add_library(vtmissingdep SHARED ${TESTS}/pack/linux/libs/unresolved.cpp)
    target_compile_definitions(vtmissingdep PRIVATE VT_DEPENDENCY)
    # dpkg-shlibdeps fails only for a versioned name it can't find.
    set_target_properties(vtmissingdep PROPERTIES SOVERSION 1)
    add_library(vtunresolved SHARED ${TESTS}/pack/linux/libs/unresolved.cpp)
    target_link_libraries(vtunresolved PRIVATE vtmissingdep)
    set_target_properties(vtunresolved PROPERTIES SKIP_BUILD_RPATH ON)
    add_dependencies(vantrel_pack_tests vtunresolved)
    target_compile_definitions(vantrel_pack_tests PRIVATE
      VANTREL_UNRESOLVED_LIBRARY="$<TARGET_FILE:vtunresolved>")
  endif()
  # The README's Maven example, built offline with Debian's Maven (installed by the setup).
  find_program(VANTREL_MVN mvn)
  if(NOT WIN32 AND VANTREL_MVN)
    add_test(NAME maven_example COMMAND bash ${TESTS}/pack/linux/maven-example.sh
      ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/bin)
    set_tests_properties(maven_example PROPERTIES TIMEOUT 600)
  endif()
endif()

# The archive of the Linux distribution: this build's tool and launcher, and the launchers of
# the Windows build beside it.
if(NOT WIN32)
  set(VANTREL_WINDOWS_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/windows CACHE PATH
      "The Windows build whose launchers the distribution carries")
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_NAME vantrel)
  set(CPACK_PACKAGE_VERSION ${VANTREL_VERSION})
  set(CPACK_PACKAGE_FILE_NAME vantrel-${VANTREL_VERSION}-linux-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};vantrel;ALL;/"
    "${VANTREL_WINDOWS_BUILD_DIR};vantrel;launchers;/")
  include(CPack)
  # The installer tests install Windows images of that build under Wine.
  if(TARGET vantrel_pack_tests)
    target_compile_definitions(vantrel_pack_tests PRIVATE
      VANTREL_WINDOWS_BUILD="${VANTREL_WINDOWS_BUILD_DIR}")
  endif()
endif()
