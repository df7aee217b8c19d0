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

# kd_add_gtests(<folder> LIBS <libs...>)
# Every <folder>/*_test.cpp becomes its own test program, so one family's
# tests build and fail on their own.
function(kd_add_gtests dir)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB test_sources CONFIGURE_DEPENDS "${dir}/*_test.cpp")
    foreach(src IN LISTS test_sources)
        get_filename_component(name "${src}" NAME_WE)
        add_executable(${name} "${src}")
        target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                             PROPERTIES ENVIRONMENT "KD_TEST_TMP=${CMAKE_CURRENT_BINARY_DIR}")
    endforeach()
endfunction()
