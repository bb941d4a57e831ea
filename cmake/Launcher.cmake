# The launcher executable of the platform.
if(WIN32)
  enable_language(RC)
  add_executable(vantrel
    ${SRC}/windows/native/applauncher/WinLauncher.cpp
    ${SRC}/windows/native/applauncher/WinLauncher.rc)
  target_link_options(vantrel PRIVATE -municode)
  set_source_files_properties(${SRC}/windows/native/applauncher/WinLauncher.rc PROPERTIES
    OBJECT_DEPENDS ${SRC}/windows/native/applauncher/vantrel.manifest)
else()
  file(GLOB VANTREL_LINUX_LAUNCHER_SOURCES CONFIGURE_DEPENDS
    ${SRC}/linux/native/applauncher/*.cpp)
  if(VANTREL_LINUX_LAUNCHER_SOURCES)
    add_executable(vantrel ${VANTREL_LINUX_LAUNCHER_SOURCES})
  endif()
endif()
if(TARGET vantrel)
  target_link_libraries(vantrel PRIVATE vtcore)
  # The runtime's launcher library looks the function table up in the executable.
  set_target_properties(vantrel PROPERTIES ENABLE_EXPORTS ON)
endif()
