# The JVM start against the machine's own JDK: a Java program compiled with javac at build
# time, started through the JDK's libjli.so by a fixture, checked by a test binary of its own.
# Native plain Linux builds only: a sanitized process must not host a real JVM, and the
# Windows build has no JDK to run.
if(WIN32 OR CMAKE_CROSSCOMPILING OR VANTREL_SANITIZE OR VANTREL_FUZZ)
  return()
endif()

find_package(Java COMPONENTS Development)
if(NOT Java_JAVAC_EXECUTABLE)
  message(STATUS "No javac found: the real-JVM tests are not built")
  return()
endif()

set(REALJVM_JAVA_SOURCES ${TESTS}/java/realjvm/RealJvmProbe.java)
set(REALJVM_CLASS_DIR ${CMAKE_BINARY_DIR}/java/realjvm)
add_custom_command(
  OUTPUT ${REALJVM_CLASS_DIR}/RealJvmProbe.class
  COMMAND ${CMAKE_COMMAND} -E make_directory ${REALJVM_CLASS_DIR}
  COMMAND ${Java_JAVAC_EXECUTABLE} -encoding UTF-8 -d ${REALJVM_CLASS_DIR} ${REALJVM_JAVA_SOURCES}
  DEPENDS ${REALJVM_JAVA_SOURCES}
  COMMENT "Compiling the Java program of the real-JVM tests"
  VERBATIM)
add_custom_target(realjvm_java_classes DEPENDS ${REALJVM_CLASS_DIR}/RealJvmProbe.class)

add_executable(realjvm_fixture ${TESTS}/jdk/realjvmfixture.cpp)
set_target_properties(realjvm_fixture PROPERTIES OUTPUT_NAME realjvmfixture)
target_link_libraries(realjvm_fixture PRIVATE vtapplauncher)
# The runtime's launcher library looks the function table up in the executable.
set_target_properties(realjvm_fixture PROPERTIES ENABLE_EXPORTS ON)

add_executable(realjvm_tests ${TESTS}/jdk/RealJvmTest.cpp)
target_link_libraries(realjvm_tests PRIVATE vttestsupport gtest_main)
add_dependencies(realjvm_tests realjvm_fixture realjvm_java_classes)
add_test(NAME realjvm_tests COMMAND realjvm_tests)
set_tests_properties(realjvm_tests PROPERTIES TIMEOUT 300)
