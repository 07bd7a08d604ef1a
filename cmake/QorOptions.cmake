# Compiler settings shared by every library of the project.
add_library(qor_options INTERFACE)
# The engine links records through intrusive lists whose head doubles as a
# node (see kernel/list.h), as the kernels of small systems always have.
target_compile_options(qor_options INTERFACE -Wall -Wextra -fno-strict-aliasing)
if(QOR_WERROR)
  target_compile_options(qor_options INTERFACE -Werror)
  # GCC 12 at -O3 sees overlapping copies, out-of-bounds offsets and frees
  # of non-heap memory inside std::string's and std::vector's own inlined
  # code (GCC bugs 105329, 107852, 108088); such warnings must not stop a
  # Release build.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(qor_options INTERFACE
      -Wno-error=restrict -Wno-error=array-bounds -Wno-error=free-nonheap-object)
  endif()
endif()
if(QOR_FUZZ)
  # Every library carries the coverage that guides the fuzzers, not only the
  # fuzz targets themselves.
  # UBSan stops at its first report, so libFuzzer saves the input; -O1 -g
  # keeps the report's stack readable.
  target_compile_options(qor_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
    -fno-sanitize-recover=undefined -O1 -g -fno-omit-frame-pointer)
  target_link_options(qor_options INTERFACE -fsanitize=address,undefined)
endif()
if(QOR_COVERAGE)
  # Line and branch counts for scripts/coverage.sh.
  target_compile_options(qor_options INTERFACE --coverage -O0)
  target_link_options(qor_options INTERFACE --coverage)
endif()
if(QOR_SANITIZE)
  target_compile_options(qor_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(qor_options INTERFACE -fsanitize=address,undefined)
endif()

# qor_library(name SOURCES...) declares one library with the project's
# options; the repository root is the include root for everyone.
if(QOR_LAYER_CHECK)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()
function(qor_library name)
  if(QOR_LAYER_CHECK)
    add_library(${name} SHARED ${ARGN})
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  else()
    add_library(${name} STATIC ${ARGN})
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC qor_options)
endfunction()

# qor_test(name SOURCES... LIBS ...) one GoogleTest executable registered with CTest.
# Test programs and fuzz replays land in build/tests-bin.
set(QOR_TESTS_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests-bin)
function(qor_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  # Not beside the emulator: its working folder holds only what it runs with.
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QOR_TESTS_OUTPUT_DIRECTORY})
  target_link_libraries(${name} PRIVATE ${T_LIBS} qor_testsupport GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
include(GoogleTest)
