# Test Java runtimes: a launcher library whose JLI_Launch records what it received, and a
# virtual machine and a splash screen library that only load. Laid out as in a runtime image
# under ${CMAKE_BINARY_DIR}/testruntime, so tests can copy the tree as one.
set(VANTREL_TEST_RUNTIME_DIR ${CMAKE_BINARY_DIR}/testruntime)
if(WIN32)
  set(VANTREL_TEST_RUNTIME_LIBDIR ${VANTREL_TEST_RUNTIME_DIR}/bin)
else()
  set(VANTREL_TEST_RUNTIME_LIBDIR ${VANTREL_TEST_RUNTIME_DIR}/lib)
endif()

function(vantrel_test_runtime_library name subdir)
  set(target testruntime_${name})
  add_library(${target} SHARED ${TESTS}/runtime/${name}.cpp)
  target_include_directories(${target} PRIVATE ${TESTS}/runtime)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name}
    RUNTIME_OUTPUT_DIRECTORY ${VANTREL_TEST_RUNTIME_LIBDIR}/${subdir}
    LIBRARY_OUTPUT_DIRECTORY ${VANTREL_TEST_RUNTIME_LIBDIR}/${subdir}
    # Import libraries stay out of the runtime image.
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testruntime-implib)
  if(WIN32)
    # "jli.dll", not "libjli.dll"; no MinGW runtime DLL needed beside it.
    set_target_properties(${target} PROPERTIES PREFIX "")
    target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++)
  elseif(NOT VANTREL_SANITIZE AND NOT VANTREL_FUZZ)
    # As a real runtime's libjli.so, which is C: loading it loads no libstdc++, which the
    # launcher no longer brings (its own is linked in).
    target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++
      LINKER:--exclude-libs,ALL)
  endif()
  add_dependencies(vantrel_unit_tests ${target})
endfunction()

vantrel_test_runtime_library(jli "")
vantrel_test_runtime_library(jvm server)
vantrel_test_runtime_library(splashscreen "")

target_include_directories(vantrel_unit_tests PRIVATE ${TESTS}/runtime)
