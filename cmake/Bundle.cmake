# Bundle folders in the build tree: <build>/bundles/<Name>/ holding the
# target's binary, Info.plist and Resources/ (with <language>.lproj/
# folders), laid out as the foundation library's bundles expect them.
#
# kd_bundle_target(<target> BUNDLE <folder name>
#                  [INFO_PLIST <template>]
#                  [RESOURCES <files or folders>...])
#
# The Info.plist template is configured with @ONLY; besides the project's
# variables it sees @KD_BUNDLE_EXECUTABLE@ (the target's file name) and
# @KD_BUNDLE_NAME@ (the folder name without its extension). A folder among
# the resources (such as en.lproj) is copied with its files under
# Resources/. The bundle folder is left in the target's KD_BUNDLE_DIR
# property.

set(KD_BUNDLE_OUTPUT_DIR "${CMAKE_BINARY_DIR}/bundles" CACHE PATH
    "Where kd_bundle_target assembles bundle folders")

function(kd_bundle_target target)
    cmake_parse_arguments(ARG "" "BUNDLE;INFO_PLIST" "RESOURCES" ${ARGN})
    if(NOT ARG_BUNDLE)
        message(FATAL_ERROR "kd_bundle_target(${target}): BUNDLE <folder name> is required")
    endif()
    set(dir "${KD_BUNDLE_OUTPUT_DIR}/${ARG_BUNDLE}")
    set_target_properties(${target} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY "${dir}"
        LIBRARY_OUTPUT_DIRECTORY "${dir}"
        KD_BUNDLE_DIR "${dir}")

    if(ARG_INFO_PLIST)
        get_filename_component(KD_BUNDLE_NAME "${ARG_BUNDLE}" NAME_WE)
        set(KD_BUNDLE_EXECUTABLE "$<TARGET_FILE_NAME:${target}>")
        set(stage "${CMAKE_CURRENT_BINARY_DIR}/${target}-Info.plist.in")
        configure_file("${ARG_INFO_PLIST}" "${stage}" @ONLY)
        file(GENERATE OUTPUT "${dir}/Info.plist" INPUT "${stage}")
    endif()

    set(outputs "")
    foreach(res IN LISTS ARG_RESOURCES)
        get_filename_component(res "${res}" ABSOLUTE)
        get_filename_component(name "${res}" NAME)
        if(IS_DIRECTORY "${res}")
            file(GLOB_RECURSE files CONFIGURE_DEPENDS RELATIVE "${res}" "${res}/*")
            foreach(f IN LISTS files)
                list(APPEND pairs "${res}/${f}|${dir}/Resources/${name}/${f}")
            endforeach()
        else()
            list(APPEND pairs "${res}|${dir}/Resources/${name}")
        endif()
    endforeach()
    foreach(pair IN LISTS pairs)
        string(REPLACE "|" ";" pair "${pair}")
        list(GET pair 0 from)
        list(GET pair 1 to)
        add_custom_command(OUTPUT "${to}"
            COMMAND ${CMAKE_COMMAND} -E copy_if_different "${from}" "${to}"
            DEPENDS "${from}" VERBATIM)
        list(APPEND outputs "${to}")
    endforeach()
    if(outputs)
        add_custom_target(${target}_bundle_resources DEPENDS ${outputs})
        add_dependencies(${target} ${target}_bundle_resources)
    endif()
endfunction()
