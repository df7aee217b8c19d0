# Send-to plug-in bundles.
#
# kd_add_plugin(<Name> PRINCIPAL <class> USER_ID_KEY <key>
#               [PLUGIN_KEY <key>] [SERVICE_APP <name>] [MIGRATES_OLD_SETTINGS]
#               [VERSION <v>] [SHORT_VERSION <v>] [IDENTIFIER <id>]
#               [ICON <png>] [LOCALIZATIONS <lang.lproj folders>...]
#               [HELP <folder>] [HELP_FILE <name.ext>]
#               [SOURCES <destination sources>...] [LIBS <libs>...]
#               [FOLDER <bundles sub-folder>])
#
# Assembles <build>/bundles/<FOLDER>/<Name>.plugin/ (FOLDER defaults to
# Quillora/PlugIns) with kd_bundle_target: the shared object <Name>.so built
# from the plug-in kit, the build's constants and the destination's sources,
# its Info.plist ("NSPrincipalClass" names PRINCIPAL, both versions, the icon
# file, the help folder and "TVHelpFileName") and Resources/ with the
# languages' Localizable.strings, the icon and the help folder.
#
# The kit and the application's static utility libraries are linked with
# their symbols kept local (-fvisibility=hidden, --exclude-libs), so several
# plug-ins in one process never bind to each other's copies; the foundation,
# the ui layer and the plug-in interface (kdplugin) are shared.
function(kd_add_plugin name)
    cmake_parse_arguments(ARG "MIGRATES_OLD_SETTINGS"
        "PRINCIPAL;USER_ID_KEY;PLUGIN_KEY;SERVICE_APP;VERSION;SHORT_VERSION;IDENTIFIER;ICON;HELP;HELP_FILE;FOLDER"
        "SOURCES;LIBS;LOCALIZATIONS" ${ARGN})
    foreach(required PRINCIPAL USER_ID_KEY)
        if(NOT ARG_${required})
            message(FATAL_ERROR "kd_add_plugin(${name}): ${required} is required")
        endif()
    endforeach()
    set(KD_PLUGIN_NAME "${name}")
    set(KD_PLUGIN_PRINCIPAL "${ARG_PRINCIPAL}")
    set(KD_PLUGIN_USER_ID_KEY "${ARG_USER_ID_KEY}")
    set(KD_PLUGIN_SERVICE_APP "${ARG_SERVICE_APP}")
    if(ARG_MIGRATES_OLD_SETTINGS)
        set(KD_PLUGIN_MIGRATES true)
    else()
        set(KD_PLUGIN_MIGRATES false)
    endif()
    # Each option's value, else its default.
    foreach(option IN ITEMS "KEY|PLUGIN_KEY|${name}" "VERSION|VERSION|${PROJECT_VERSION}"
                            "IDENTIFIER|IDENTIFIER|com.tavrolek.Quillora.plugin.${name}")
        string(REPLACE "|" ";" option "${option}")
        list(GET option 0 var)
        list(GET option 1 arg)
        list(GET option 2 default)
        set(KD_PLUGIN_${var} "${default}")
        if(ARG_${arg})
            set(KD_PLUGIN_${var} "${ARG_${arg}}")
        endif()
    endforeach()
    set(KD_PLUGIN_SHORT_VERSION "${KD_PLUGIN_VERSION}")
    if(ARG_SHORT_VERSION)
        set(KD_PLUGIN_SHORT_VERSION "${ARG_SHORT_VERSION}")
    endif()
    set(KD_PLUGIN_ICON_NAME "")
    if(ARG_ICON)
        get_filename_component(KD_PLUGIN_ICON_NAME "${ARG_ICON}" NAME)
    endif()
    set(KD_PLUGIN_HELP_FOLDER_NAME "")
    if(ARG_HELP)
        get_filename_component(KD_PLUGIN_HELP_FOLDER_NAME "${ARG_HELP}" NAME)
    endif()
    set(KD_PLUGIN_HELP_FILE "${ARG_HELP_FILE}")
    set(folder "Quillora/PlugIns")
    if(ARG_FOLDER)
        set(folder "${ARG_FOLDER}")
    endif()

    set(generated "${CMAKE_CURRENT_BINARY_DIR}/${name}-BuildConstants.cpp")
    configure_file("${KD_PLUGIN_KIT_DIR}/BuildConstants.cpp.in" "${generated}" @ONLY)

    add_library(${name} MODULE "${generated}" ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME "${name}"
        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    target_link_libraries(${name} PRIVATE kdpluginkit ${ARG_LIBS})
    target_link_options(${name} PRIVATE "LINKER:--exclude-libs,ALL" ${KD_NO_UNDEFINED})
    kd_bundle_target(${name} BUNDLE "${folder}/${name}.plugin"
        INFO_PLIST "${KD_PLUGIN_KIT_DIR}/Plugin-Info.plist.in"
        RESOURCES ${ARG_LOCALIZATIONS} ${ARG_ICON} ${ARG_HELP})
endfunction()
