# The launcher executable of the platform: the top floor, over applauncher.
if(WIN32)
  enable_language(RC)
  set(VANTREL_WIN_LAUNCHER ${SRC}/windows/native/applauncher)
  # One launch sequence, compiled once, behind two process entries.
  add_library(vtwinlauncher OBJECT ${VANTREL_WIN_LAUNCHER}/WinLauncher.cpp
    ${VANTREL_WIN_LAUNCHER}/MessageBoxLogAppender.cpp ${VANTREL_WIN_LAUNCHER}/WinLauncher.rc)
  target_link_libraries(vtwinlauncher PRIVATE vtapplauncher vtplatform_private)
  set_source_files_properties(${VANTREL_WIN_LAUNCHER}/WinLauncher.rc PROPERTIES
    OBJECT_DEPENDS ${VANTREL_WIN_LAUNCHER}/vantrel.manifest)
  add_executable(vantrel ${VANTREL_WIN_LAUNCHER}/WinConsoleEntry.cpp)
  target_link_options(vantrel PRIVATE -municode)
  add_executable(vantrelw WIN32 ${VANTREL_WIN_LAUNCHER}/WinGuiEntry.cpp)
  target_link_options(vantrelw PRIVATE -municode -mwindows)
  foreach(launcher vantrel vantrelw)
    target_link_libraries(${launcher} PRIVATE vtwinlauncher vtapplauncher vtplatform_private)
    set_target_properties(${launcher} PROPERTIES ENABLE_EXPORTS ON)
  endforeach()
else()
  file(GLOB VANTREL_LINUX_LAUNCHER_SOURCES CONFIGURE_DEPENDS
    ${SRC}/linux/native/applauncher/*.cpp)
  if(VANTREL_LINUX_LAUNCHER_SOURCES)
    add_executable(vantrel ${VANTREL_LINUX_LAUNCHER_SOURCES})
    target_link_libraries(vantrel PRIVATE vtapplauncher vtplatform_private)
  endif()
endif()
if(TARGET vantrel AND NOT WIN32 AND NOT VANTREL_SANITIZE AND NOT VANTREL_FUZZ)
  # The shipped launcher runs on glibc 2.17 and later (see glibc/GlibcCompat.cpp): libstdc++ and
  # libgcc linked in, each function that newer glibc versions redirected wrapped, libdl and
  # libpthread named as needed (their functions moved into libc only in 2.34), and only the
  # function table exported, so that no copy of libstdc++ inside it serves the runtime's
  # libraries. The sanitizer builds link as usual.
  set(VANTREL_GLIBC_WRAPPED __libc_start_main dlopen dlsym dlerror dladdr dlclose pthread_once
      __pthread_key_create stat lstat fstat fstat64 memcpy gettid strerrordesc_np
      __libc_single_threaded _dl_find_object)
  target_sources(vantrel PRIVATE ${SRC}/linux/native/glibc/GlibcCompat.cpp)
  list(TRANSFORM VANTREL_GLIBC_WRAPPED PREPEND "LINKER:--wrap=" OUTPUT_VARIABLE wrap_options)
  target_link_options(vantrel PRIVATE -static-libstdc++ -static-libgcc LINKER:--gc-sections
    LINKER:--dynamic-list=${SRC}/linux/native/glibc/exports.list ${wrap_options})
  target_link_libraries(vantrel PRIVATE
    -Wl,--push-state,--no-as-needed -l:libdl.so.2 -l:libpthread.so.0 -Wl,--pop-state)
  set_property(TARGET vantrel APPEND PROPERTY LINK_DEPENDS
    ${SRC}/linux/native/glibc/exports.list)
elseif(TARGET vantrel)
  # The runtime's launcher library looks the function table up in the executable.
  set_target_properties(vantrel PROPERTIES ENABLE_EXPORTS ON)
endif()

# The launcher for 64-bit ARM, cross-built in a build of its own below this one whenever the
# cross compiler is there, and put where this build's vantrel-pack and the distribution find it.
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND NOT VANTREL_SANITIZE AND NOT VANTREL_FUZZ
   AND TARGET vantrel)
  find_program(VANTREL_AARCH64_CXX aarch64-linux-gnu-g++)
  if(VANTREL_AARCH64_CXX)
    include(ExternalProject)
    set(aarch64_build ${CMAKE_BINARY_DIR}/aarch64)
    ExternalProject_Add(vantrel_aarch64
      SOURCE_DIR ${CMAKE_SOURCE_DIR}
      BINARY_DIR ${aarch64_build}
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/aarch64-linux-gnu.cmake
                 -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      BUILD_COMMAND ${CMAKE_COMMAND} --build ${aarch64_build} --target vantrel
      BUILD_ALWAYS ON
      # Into this build's tree, where its vantrel-pack looks; stripped by the cross binutils,
      # which the host's strip can't do.
      INSTALL_COMMAND ${CMAKE_COMMAND} --install ${aarch64_build} --strip --component launchers
                      --prefix ${CMAKE_BINARY_DIR}
      BUILD_BYPRODUCTS ${aarch64_build}/bin/vantrel)
    add_dependencies(vantrel vantrel_aarch64)
    set(VANTREL_AARCH64_LAUNCHER
        ${CMAKE_BINARY_DIR}/share/vantrel/launchers/linux-aarch64/vantrel)
    install(PROGRAMS ${VANTREL_AARCH64_LAUNCHER}
      DESTINATION share/vantrel/launchers/linux-aarch64 COMPONENT launchers)
  else()
    message(WARNING "No aarch64-linux-gnu-g++: the launcher for 64-bit ARM is left out")
  endif()
endif()
