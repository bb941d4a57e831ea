# The shipped launchers start on glibc 2.17: their dynamic symbols and needed libraries say so.
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND NOT VANTREL_SANITIZE AND NOT VANTREL_FUZZ
   AND TARGET vantrel)
  add_test(NAME launcher_glibc_symbols COMMAND bash ${TESTS}/launcher/linux/check-glibc-symbols.sh
    $<TARGET_FILE:vantrel> ${VANTREL_AARCH64_LAUNCHER})
endif()

# What the Linux launcher's tests need beyond the test runtime: real Java programs and a real
# runtime image, made with the machine's JDK at build time (also used by the demo and the
# benchmark), and valgrind. Only native, unsanitized builds: neither a real JVM nor valgrind
# runs under the sanitizers.
if(WIN32 OR CMAKE_CROSSCOMPILING OR VANTREL_SANITIZE OR VANTREL_FUZZ
   OR NOT TARGET vantrel_launcher_tests)
  return()
endif()

# valgrind's memcheck over whole launches with the test runtime.
target_compile_definitions(vantrel_launcher_tests PRIVATE
  VANTREL_MEMCHECK_SUPPRESSIONS="${TESTS}/launcher/linux/memcheck.supp")

find_program(VANTREL_JAVAC javac)
find_program(VANTREL_JAR jar)
find_program(VANTREL_JLINK jlink)
if(NOT VANTREL_JAVAC OR NOT VANTREL_JAR OR NOT VANTREL_JLINK)
  message(WARNING "No javac, jar and jlink: the launcher's tests with a real JVM are left out")
  return()
endif()

set(java_src ${TESTS}/launcher/linux/java)
set(java_out ${CMAKE_BINARY_DIR}/launcherjava)
set(VANTREL_JLINK_RUNTIME ${CMAKE_BINARY_DIR}/jlinkruntime)

# Compiles the sources under java/<name> and packs the classes into <name>.jar.
function(vantrel_java_program name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "JAVAC_OPTIONS;JAR_OPTIONS;DEPENDS")
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${java_src}/${name}/*.java)
  set(classes ${java_out}/classes/${name})
  add_custom_command(
    OUTPUT ${java_out}/${name}.jar
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${classes}
    COMMAND ${VANTREL_JAVAC} -encoding UTF-8 -d ${classes} ${arg_JAVAC_OPTIONS} ${sources}
    COMMAND ${VANTREL_JAR} --create --file ${java_out}/${name}.jar ${arg_JAR_OPTIONS}
            -C ${classes} .
    DEPENDS ${sources} ${arg_DEPENDS}
    COMMENT "Compiling the Java test program ${name}"
    VERBATIM)
endfunction()

file(MAKE_DIRECTORY ${java_out})
# The main JAR finds the helper beside it.
file(WRITE ${java_out}/probe.manifest "Class-Path: helper.jar\n")

vantrel_java_program(helper)
vantrel_java_program(probe
  JAVAC_OPTIONS -cp ${java_out}/helper.jar
  JAR_OPTIONS --main-class=vtest.probe.Probe --manifest=${java_out}/probe.manifest
  DEPENDS ${java_out}/helper.jar)
vantrel_java_program(module)
vantrel_java_program(hello JAR_OPTIONS --main-class=hello.Main)
# A main jar whose dependency only its manifest names, and that reaches service providers.
file(WRITE ${java_out}/providers.manifest "Class-Path: lib/logdep.jar\n")
vantrel_java_program(logdep)
vantrel_java_program(providers
  JAVAC_OPTIONS -cp ${java_out}/logdep.jar
  JAR_OPTIONS --main-class=vtest.providers.Main --manifest=${java_out}/providers.manifest
  DEPENDS ${java_out}/logdep.jar)
# Two versions of one application, for its class-data archive.
vantrel_java_program(cdsv1)
vantrel_java_program(cdsv2)
file(WRITE ${java_out}/cdsref.manifest "Class-Path: lib/app.jar\n")
vantrel_java_program(cdsref JAR_OPTIONS --manifest=${java_out}/cdsref.manifest)

# jlink refuses an existing output directory; the release file marks a complete image.
add_custom_command(
  OUTPUT ${VANTREL_JLINK_RUNTIME}/release
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${VANTREL_JLINK_RUNTIME}
  COMMAND ${VANTREL_JLINK} --add-modules java.base --no-header-files --no-man-pages
          --output ${VANTREL_JLINK_RUNTIME}
  COMMENT "Making a Java runtime image with jlink"
  VERBATIM)

add_custom_target(vantrel_linux_java ALL DEPENDS
  ${java_out}/helper.jar ${java_out}/probe.jar ${java_out}/module.jar ${java_out}/hello.jar
  ${java_out}/cdsv1.jar ${java_out}/cdsv2.jar ${java_out}/cdsref.jar
  ${java_out}/logdep.jar ${java_out}/providers.jar
  ${VANTREL_JLINK_RUNTIME}/release)
add_dependencies(vantrel_launcher_tests vantrel_linux_java)
# The JDK itself serves as a full runtime, splash screen library included.
get_filename_component(jdk_home ${VANTREL_JAVAC} REALPATH)
get_filename_component(jdk_home ${jdk_home} DIRECTORY)
get_filename_component(jdk_home ${jdk_home} DIRECTORY)
target_compile_definitions(vantrel_launcher_tests PRIVATE
  VANTREL_JAVA_PROGRAMS="${java_out}"
  VANTREL_JLINK_RUNTIME="${VANTREL_JLINK_RUNTIME}"
  VANTREL_JDK_HOME="${jdk_home}")
