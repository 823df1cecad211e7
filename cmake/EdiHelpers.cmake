# Project-wide compile options and the helper that registers a test executable.

add_library(edi_options INTERFACE)
target_compile_options(edi_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wshadow -Wcast-qual -Wpedantic -Wold-style-cast>)
if(EDI_WERROR)
  target_compile_options(edi_options INTERFACE -Werror)
endif()
if(EDI_SANITIZE)
  target_compile_options(edi_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(edi_options INTERFACE -fsanitize=address,undefined)
endif()
add_library(edi::options ALIAS edi_options)
if(EDI_FUZZ)
  # The fuzzers need coverage of the libraries they drive, not only of their own sources; the
  # fuzz targets themselves add libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# edi_add_test(NAME SOURCES... LIBS ...): one GoogleTest executable, registered with CTest.
function(edi_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE edi::options GTest::gtest GTest::gtest_main ${T_LIBS})
  target_compile_definitions(${name} PRIVATE
    EDI_SHARED_DIR="${EDI_SHARED_DIR}"
    EDI_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    EDI_BINARY_DIR="${PROJECT_BINARY_DIR}")
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "EDI_TEST_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()

# edi_add_qt_test(NAME SOURCES... LIBS ...): one Qt Test executable of the desktop program's
# windows, run headless; a time limit so that a stray modal box fails the test instead of
# stopping the run.
function(edi_add_qt_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  find_package(Qt6 REQUIRED COMPONENTS Test)
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE edi::options Qt6::Test ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/ui)
  target_compile_definitions(${name} PRIVATE
    EDI_SHARED_DIR="${EDI_SHARED_DIR}"
    EDI_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    EDI_BINARY_DIR="${PROJECT_BINARY_DIR}")
  add_test(NAME ui.${name} COMMAND ${name})
  set_tests_properties(ui.${name} PROPERTIES TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;EDI_TEST_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()

# edi_version_info(TARGET DESCRIPTION text COMMENTS text): gives a deliverable its version
# information, a note section ".note.verimek.version" compiled into the target itself (so a
# static library in between cannot drop it), read from the file by the about box.
function(edi_version_info target)
  cmake_parse_arguments(V "" "DESCRIPTION;COMMENTS" "" ${ARGN})
  set(parts ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} ${PROJECT_VERSION_TWEAK})
  set(i 0)
  foreach(p IN LISTS parts)
    if(p STREQUAL "")
      set(p 0)
    endif()
    set(EDI_NOTE_V${i} ${p})
    math(EXPR i "${i} + 1")
  endforeach()
  while(i LESS 4)
    set(EDI_NOTE_V${i} 0)
    math(EXPR i "${i} + 1")
  endwhile()
  set(EDI_NOTE_TARGET ${target})
  set(EDI_NOTE_FILEVERSION ${PROJECT_VERSION})
  # The texts land inside an assembler string inside a C++ string.
  foreach(v DESCRIPTION COMMENTS)
    string(REGEX REPLACE "[\"\\\\]" "" EDI_NOTE_${v} "${V_${v}}")
  endforeach()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}-version-note.cpp)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionNote.cpp.in ${out} @ONLY)
  target_sources(${target} PRIVATE ${out})
endfunction()
