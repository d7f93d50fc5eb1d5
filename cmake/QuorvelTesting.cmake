# Test helpers: GoogleTest executables and Node test-runner files, both run by CTest.
find_package(GTest REQUIRED)
include(GoogleTest)

# Environment for Node processes that load sanitized modules: node itself is not
# instrumented, so the sanitizer runtimes must be preloaded.
set(QV_NODE_TEST_ENV "QV_BUILD_DIR=${PROJECT_BINARY_DIR}" "QV_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
    "QV_MODULE_DIR=${PROJECT_BINARY_DIR}/modules")
if(QV_SANITIZE MATCHES "address")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
    OUTPUT_VARIABLE _asan OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(_preload ${_asan})
  if(QV_SANITIZE MATCHES "undefined" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libubsan.so
      OUTPUT_VARIABLE _ubsan OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(APPEND _preload ":${_ubsan}")
  endif()
  list(APPEND QV_NODE_TEST_ENV "LD_PRELOAD=${_preload}"
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:exitcode=86"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/lsan-node.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
elseif(QV_SANITIZE MATCHES "thread")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libtsan.so
    OUTPUT_VARIABLE _tsan OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND QV_NODE_TEST_ENV "LD_PRELOAD=${_tsan}" "TSAN_OPTIONS=halt_on_error=1:exitcode=86")
endif()

# qv_add_gtest(<name> SOURCES <files>... [LIBS <libs>...] [LABELS <labels>...])
function(qv_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "unit;${ARG_LABELS}"
    ENVIRONMENT "QV_BUILD_DIR=${PROJECT_BINARY_DIR};QV_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# qv_add_fuzz(<name> SOURCES <files>... COVERS <libs>... [LIBS <libs>...] [SEEDS <dir>...]
#             [DICT <file>] [ARGS <flags>...] [LABELS <labels>...])
# A libFuzzer target, registered to run for a bounded time from the committed seeds in SEEDS.
# New inputs go to the build folder, so the committed seeds stay untouched. The libraries in
# COVERS, the code under test, are instrumented too, so the fuzzer is guided by that code and not
# only by its entry point; a target without them fuzzes blind, so it is refused. DICT is a
# libFuzzer dictionary of the input format's tokens.
function(qv_add_fuzz name)
  cmake_parse_arguments(ARG "" "DICT" "SOURCES;LIBS;COVERS;SEEDS;ARGS;LABELS" ${ARGN})
  if(NOT ARG_COVERS)
    message(FATAL_ERROR "fuzz target ${name}: COVERS must name the libraries it tests")
  endif()
  foreach(lib IN LISTS ARG_COVERS)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set(flags -max_total_time=20 -timeout=10)
  if(ARG_DICT)
    if(NOT EXISTS ${ARG_DICT})
      message(FATAL_ERROR "fuzz target ${name}: no dictionary ${ARG_DICT}")
    endif()
    list(APPEND flags -dict=${ARG_DICT})
  endif()
  set(found ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${found})
  add_test(NAME ${name} COMMAND ${name} ${flags} ${ARG_ARGS} ${found} ${ARG_SEEDS})
  set_tests_properties(${name} PROPERTIES LABELS "fuzz;${ARG_LABELS}" TIMEOUT 120)
endfunction()

# qv_add_node_test(<name> FILE <test.mjs> [LABELS <labels>...] [ENV <k=v>...] [NODE_ARGS <args>...]
#                  [DEPENDS <targets>...] [TIMEOUT <seconds>])
function(qv_add_node_test name)
  cmake_parse_arguments(ARG "" "FILE;TIMEOUT" "LABELS;ENV;NODE_ARGS;DEPENDS" ${ARGN})
  add_test(NAME ${name}
    COMMAND ${QV_NODE} ${ARG_NODE_ARGS} --test --test-reporter=spec ${ARG_FILE}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "node;${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "${QV_NODE_TEST_ENV};${ARG_ENV}")
endfunction()
