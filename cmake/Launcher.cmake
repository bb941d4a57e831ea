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
if(TARGET vantrel)
  # The runtime's launcher library looks the function table up in the executable.
  set_target_properties(vantrel PROPERTIES ENABLE_EXPORTS ON)
endif()
