# Project-wide compile settings and helpers shared by every folder.

add_compile_options(-Wall -Wextra -Wno-unused-parameter)
if(KD_WERROR)
    add_compile_options(-Werror)
endif()

if(KD_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# The instrumented configurations (sanitizers, fuzzing) are built at -O1 with
# line tables only: the checks and stack traces are the same, and at -O2 -g
# the instrumented test programs took three times as long to compile.
if(KD_SANITIZE OR KD_FUZZ)
    foreach(lang C CXX)
        set(CMAKE_${lang}_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG")
    endforeach()
endif()

# Test programs' own sources (fixtures, oracles, assertions) are compiled at
# -O1 in every configuration; the code under test keeps its configuration's
# optimisation. Most of a test program's build time is spent optimising
# GoogleTest's templates, which gains the run nothing.
set(KD_TEST_OPTIMIZE "-O1" CACHE STRING "Optimisation of the test programs' own sources")
option(KD_TEST_PCH "Share one precompiled GoogleTest header among the test programs" ON)

# GoogleTest's headers (and the standard headers they pull in), precompiled
# once for every test program: each test program is one source, so a header
# precompiled per program would save nothing. Built like the test programs'
# own sources (KD_TEST_OPTIMIZE, and -fPIC, which Qt asks of its users), so
# the compiler accepts it for every one of them.
function(kd_test_pch_target out)
    if(NOT TARGET kd_test_pch)
        set(src "${CMAKE_BINARY_DIR}/kd_test_pch.cpp")
        if(NOT EXISTS "${src}")
            file(WRITE "${src}" "int main() { return 0; }\n")
        endif()
        add_executable(kd_test_pch "${src}")
        target_link_libraries(kd_test_pch PRIVATE GTest::gtest)
        target_compile_options(kd_test_pch PRIVATE ${KD_TEST_OPTIMIZE} -fPIC)
        target_precompile_headers(kd_test_pch PRIVATE <gtest/gtest.h>)
    endif()
    set(${out} kd_test_pch PARENT_SCOPE)
endfunction()

# kd_add_gtests(<folder> LIBS <libs...> [DEFINITIONS <defs...>] [DEPENDS <targets...>]
#               [ENVIRONMENT_MODIFICATION <op>])
# Every <folder>/*_test.cpp becomes its own test program, so one family's
# tests build and fail on their own.
function(kd_add_gtests dir)
    cmake_parse_arguments(ARG "RUN_SERIAL" "ENVIRONMENT_MODIFICATION;RESOURCE_LOCK" "LIBS;DEFINITIONS;DEPENDS" ${ARGN})
    set(props ENVIRONMENT "KD_TEST_TMP=${CMAKE_CURRENT_BINARY_DIR}")
    # Tests that must not overlap (such as every process of the application's
    # bundle identifier, which a starting application counts as a running copy).
    if(ARG_RESOURCE_LOCK)
        list(APPEND props RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
    endif()
    # Tests that must run alone: those that start the application as a
    # process, which counts every other process of its bundle identifier
    # (the test bundles made from its Info.plist too) as a running copy.
    if(ARG_RUN_SERIAL)
        list(APPEND props RUN_SERIAL TRUE)
    endif()
    if(ARG_ENVIRONMENT_MODIFICATION)
        list(APPEND props ENVIRONMENT_MODIFICATION "${ARG_ENVIRONMENT_MODIFICATION}")
    endif()
    file(GLOB test_sources CONFIGURE_DEPENDS "${dir}/*_test.cpp")
    foreach(src IN LISTS test_sources)
        get_filename_component(name "${src}" NAME_WE)
        add_executable(${name} "${src}")
        target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
        target_compile_options(${name} PRIVATE ${KD_TEST_OPTIMIZE})
        if(KD_TEST_PCH)
            kd_test_pch_target(pch)
            target_compile_options(${name} PRIVATE -fPIC)
            target_precompile_headers(${name} REUSE_FROM ${pch})
        endif()
        if(ARG_DEFINITIONS)
            target_compile_definitions(${name} PRIVATE ${ARG_DEFINITIONS})
        endif()
        if(ARG_DEPENDS)
            add_dependencies(${name} ${ARG_DEPENDS})
        endif()
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
    endforeach()
endfunction()

# The fuzzing configuration (KD_FUZZ, clang only) builds nothing but the
# libFuzzer harnesses: the library code is instrumented for coverage and
# checked by ASan and UBSan, tests and benchmarks are left out, so GoogleTest
# and Google Benchmark are not needed. Warnings never fail this build: clang
# warns where gcc does not, and the gcc builds are the ones kept -Werror clean.
if(KD_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "KD_FUZZ needs clang (configure with CC=clang CXX=clang++)")
    endif()
    set(KD_BUILD_TESTS OFF)
    set(KD_BUILD_BENCH OFF)
    # gcc evaluates the library's larger constexpr tables; clang needs a
    # higher step limit for them.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer -Wno-error -Wno-unknown-warning-option
                        -fconstexpr-steps=100000000)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
    # One line per harness for the runner in tools/setup.sh:
    # name <TAB> program <TAB> seed corpus folder <TAB> dictionary (or empty).
    set(KD_FUZZ_MANIFEST "${CMAKE_BINARY_DIR}/fuzzers.tsv")
    file(WRITE "${KD_FUZZ_MANIFEST}" "")
endif()

# kd_add_fuzzers(<folder> LIBS <libs...>)
# Every <folder>/*_fuzz.cpp (defining LLVMFuzzerTestOneInput) becomes a
# libFuzzer program in <build>/fuzzers/, attached to the target kd_fuzzers.
# Its seed corpus is <folder>/corpus/<name>/, its optional dictionary
# <folder>/<name>.dict, where <name> is the file name without "_fuzz.cpp".
# Outside the fuzzing configuration it does nothing, so folders may call it
# unconditionally (guarded by if(COMMAND kd_add_fuzzers)).
function(kd_add_fuzzers dir)
    if(NOT KD_FUZZ)
        return()
    endif()
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    if(NOT TARGET kd_fuzzers)
        add_custom_target(kd_fuzzers)
    endif()
    file(GLOB fuzz_sources CONFIGURE_DEPENDS "${dir}/*_fuzz.cpp")
    foreach(src IN LISTS fuzz_sources)
        get_filename_component(file_name "${src}" NAME)
        string(REGEX REPLACE "_fuzz\\.cpp$" "" name "${file_name}")
        set(target "${name}_fuzz")
        add_executable(${target} "${src}")
        target_link_libraries(${target} PRIVATE ${ARG_LIBS})
        target_link_options(${target} PRIVATE -fsanitize=fuzzer)
        set_target_properties(${target} PROPERTIES
            RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/fuzzers")
        add_dependencies(kd_fuzzers ${target})
        set(dict "")
        if(EXISTS "${dir}/${name}.dict")
            set(dict "${dir}/${name}.dict")
        endif()
        file(APPEND "${KD_FUZZ_MANIFEST}"
             "${name}\t${CMAKE_BINARY_DIR}/fuzzers/${target}\t${dir}/corpus/${name}\t${dict}\n")
    endforeach()
endfunction()

# Shared objects are linked with every symbol resolved, except in the fuzzing
# configuration: clang leaves the sanitizer runtimes to the executable there.
if(KD_FUZZ)
    set(KD_NO_UNDEFINED "")
else()
    set(KD_NO_UNDEFINED "-Wl,--no-undefined")
endif()

# kd_add_screenshot_scenes(SOURCES <files...> LIBS <libs...> [NAME <name>])
# Adds a folder's screenshot scenes (sources using KD_SCREENSHOT_SCENE of
# ui/Screenshots.h) to the program kd_screenshots (tools/screenshots). The
# sources become an object library, so their static registrations are kept.
function(kd_add_screenshot_scenes)
    if(KD_FUZZ)
        return()
    endif()
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
    file(RELATIVE_PATH rel "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
    string(MAKE_C_IDENTIFIER "kd_scenes_${rel}" target)
    # NAME tells apart several scene sets of one folder.
    if(ARG_NAME)
        string(MAKE_C_IDENTIFIER "${target}_${ARG_NAME}" target)
    endif()
    add_library(${target} OBJECT ${ARG_SOURCES})
    target_link_libraries(${target} PUBLIC kdui ${ARG_LIBS})
    set_property(GLOBAL APPEND PROPERTY KD_SCREENSHOT_SCENE_LIBS ${target})
endfunction()
