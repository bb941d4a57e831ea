# The floors of the product, each a target that links only the floors below it, so that a
# wrong-way include or call is a build error:
#   platform <- common <- update <- applauncher, pe <- pack
# Each floor's platform files (src/<platform>/native/<floor>/) are compiled into that floor.
# Only they, and the tests, see the platform's private headers (WinApi.h, ...), through
# vtplatform_private; shared files never do.

# Static everywhere: the launchers stay single files. The launcher reads jar manifests.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

# The platform's own files of a floor, which may include the platform's private headers.
function(vantrel_platform_sources target floor)
  file(GLOB sources CONFIGURE_DEPENDS ${SRC}/${VANTREL_PLATFORM}/native/${floor}/*.cpp)
  target_sources(${target} PRIVATE ${sources})
  set_source_files_properties(${sources} TARGET_DIRECTORY ${target} PROPERTIES
    INCLUDE_DIRECTORIES ${SRC}/${VANTREL_PLATFORM}/native/platform)
endfunction()

# The primitives each operating system implements, and the neutral text, error and trace
# types they report in.
file(GLOB VANTREL_PLATFORM_SOURCES CONFIGURE_DEPENDS ${SRC}/share/native/platform/*.cpp)
add_library(vtplatform STATIC ${VANTREL_PLATFORM_SOURCES})
vantrel_platform_sources(vtplatform platform)
target_include_directories(vtplatform PUBLIC ${SRC}/share/native/platform)
if(WIN32)
  target_link_libraries(vtplatform PUBLIC shell32 user32 kernel32 advapi32 winhttp bcrypt)
else()
  target_link_libraries(vtplatform PUBLIC ${CMAKE_DL_LIBS} pthread)
endif()
add_library(vtplatform_private INTERFACE)
target_include_directories(vtplatform_private INTERFACE ${SRC}/${VANTREL_PLATFORM}/native/platform)
target_link_libraries(vtplatform_private INTERFACE vtplatform)

file(GLOB VANTREL_COMMON_SOURCES CONFIGURE_DEPENDS ${SRC}/share/native/common/*.cpp)
add_library(vtcommon STATIC ${VANTREL_COMMON_SOURCES})
target_include_directories(vtcommon PUBLIC ${SRC}/share/native/common)
target_link_libraries(vtcommon PUBLIC vtplatform)

# The launcher's update check: metadata, verification, staging, the decision to install.
file(GLOB VANTREL_UPDATE_SOURCES CONFIGURE_DEPENDS ${SRC}/share/native/update/*.cpp)
add_library(vtupdate STATIC ${VANTREL_UPDATE_SOURCES})
target_include_directories(vtupdate PUBLIC ${SRC}/share/native/update)
target_link_libraries(vtupdate PUBLIC vtcommon)

# Configuration, runtime and archive: everything a launcher does before the runtime runs.
file(GLOB VANTREL_APPLAUNCHER_SOURCES CONFIGURE_DEPENDS ${SRC}/share/native/applauncher/*.cpp
  ${SRC}/share/native/applauncher/startup/*.cpp)
add_library(vtapplauncher STATIC ${VANTREL_APPLAUNCHER_SOURCES})
target_include_directories(vtapplauncher PUBLIC ${SRC}/share/native/applauncher
  ${SRC}/share/native/applauncher/startup)
target_link_libraries(vtapplauncher PUBLIC vtupdate ZLIB::ZLIB)
# What makes a function of an executable visible to the libraries it loads. Linux executables
# export every global function already (ENABLE_EXPORTS).
if(WIN32)
  target_compile_definitions(vtapplauncher PUBLIC "VANTREL_EXPORT=__declspec(dllexport)")
else()
  target_compile_definitions(vtapplauncher PUBLIC "VANTREL_EXPORT=")
endif()

# Readers and writers of .ico files and PE resources, for the packing tool.
file(GLOB VANTREL_PE_SOURCES CONFIGURE_DEPENDS ${SRC}/share/native/pe/*.cpp)
add_library(vtpe STATIC ${VANTREL_PE_SOURCES})
target_include_directories(vtpe PUBLIC ${SRC}/share/native/pe)
target_link_libraries(vtpe PUBLIC vtcommon)
