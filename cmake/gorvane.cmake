# Shared helpers for the folders' CMakeLists.

set(GORVANE_SANITIZER_DIR ${PROJECT_SOURCE_DIR}/scripts/sanitizers)

option(GORVANE_THREADED_TESTS_ONLY
       "Build only the tests labelled threads (the ThreadSanitizer configuration)" OFF)

# gorvane_test(NAME SOURCES src... LIBS lib... [LABELS label...] [DEFINITIONS def...]
#              [DEPENDS target...] [TIMEOUT seconds] [LAUNCHER command...])
# A GoogleTest executable registered with CTest; GORVANE_DATA_DIR names the data folder. Tests
# labelled "threads" run the workers or several device threads and are run again in the
# ThreadSanitizer configuration, which builds no other test; tests labelled "gl" need an
# OpenGL context (headless on llvmpipe). LAUNCHER runs the test through a command, such as
# xvfb-run for a test that opens a window.
function(gorvane_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;DEFINITIONS;DEPENDS;LAUNCHER"
                          ${ARGN})
    if(GORVANE_THREADED_TESTS_ONLY AND NOT "threads" IN_LIST ARG_LABELS)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE GORVANE_DATA_DIR="${PROJECT_SOURCE_DIR}/data"
                                               ${ARG_DEFINITIONS})
    if(ARG_DEPENDS)
        add_dependencies(${name} ${ARG_DEPENDS})
    endif()
    add_test(NAME ${name} COMMAND ${ARG_LAUNCHER} $<TARGET_FILE:${name}>)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        LABELS "${ARG_LABELS}"
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "LSAN_OPTIONS=suppressions=${GORVANE_SANITIZER_DIR}/lsan.supp:print_suppressions=0;TSAN_OPTIONS=suppressions=${GORVANE_SANITIZER_DIR}/tsan.supp:second_deadlock_stack=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;ASAN_OPTIONS=detect_leaks=1")
endfunction()

# gorvane_benchmark(NAME SOURCES src... LIBS lib...): a Google Benchmark program; it reports and
# never fails the build or the tests. GORVANE_DATA_DIR names the data folder.
function(gorvane_benchmark name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    if(GORVANE_THREADED_TESTS_ONLY)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
    target_compile_definitions(${name} PRIVATE GORVANE_DATA_DIR="${PROJECT_SOURCE_DIR}/data")
endfunction()

# gorvane_fuzzer(NAME SOURCES src... LIBS lib... [SECONDS n]): a libFuzzer target, built only in
# the fuzzing configuration (clang, GORVANE_FUZZ=ON) and run by CTest for a bounded time with
# the sanitizers on (label "fuzz"). Fuzz only pure parsers: the libraries they link must build
# without a GL context.
option(GORVANE_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(GORVANE_FUZZ)
    add_custom_target(fuzzers)
endif()
function(gorvane_fuzzer name)
    cmake_parse_arguments(ARG "" "SECONDS" "SOURCES;LIBS" ${ARGN})
    if(NOT GORVANE_FUZZ)
        return()
    endif()
    if(NOT ARG_SECONDS)
        set(ARG_SECONDS 5)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzzers ${name})
    add_test(NAME ${name} COMMAND ${name} -max_total_time=${ARG_SECONDS} -rss_limit_mb=2048)
    set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 120)
endfunction()
