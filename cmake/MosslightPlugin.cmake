# mosslight_add_plugin(<Name> CODE <4cc> URI <lv2 uri> VST3_CATEGORIES <...> SOURCES <...> LINK <...>)
#
# Declares one plug-in the same way for both products: VST3, LV2 and Standalone wrappers around
# one shared-code target <Name> that the tests link as well. The install-plugins target copies
# the VST3 and LV2 bundles into ~/.vst3 and ~/.lv2.
set(MOSSLIGHT_COMPANY "mosslight")
set(MOSSLIGHT_WEBSITE "https://mosslight.audio")
set(MOSSLIGHT_MANUFACTURER_CODE "Mssl")

if(NOT TARGET install-plugins)
    add_custom_target(install-plugins)
endif()

function(mosslight_add_plugin name)
    cmake_parse_arguments(ARG "" "CODE;URI;DESCRIPTION" "VST3_CATEGORIES;SOURCES;LINK" ${ARGN})

    juce_add_plugin(${name}
        PRODUCT_NAME "${name}"
        VERSION "${PROJECT_VERSION}"
        COMPANY_NAME "${MOSSLIGHT_COMPANY}"
        COMPANY_WEBSITE "${MOSSLIGHT_WEBSITE}"
        BUNDLE_ID "audio.mosslight.${name}"
        DESCRIPTION "${ARG_DESCRIPTION}"
        PLUGIN_MANUFACTURER_CODE "${MOSSLIGHT_MANUFACTURER_CODE}"
        PLUGIN_CODE "${ARG_CODE}"
        FORMATS VST3 LV2 Standalone
        LV2URI "${ARG_URI}"
        VST3_CATEGORIES ${ARG_VST3_CATEGORIES}
        IS_SYNTH FALSE
        NEEDS_MIDI_INPUT FALSE
        NEEDS_MIDI_OUTPUT FALSE
        IS_MIDI_EFFECT FALSE
        EDITOR_WANTS_KEYBOARD_FOCUS FALSE
        COPY_PLUGIN_AFTER_BUILD FALSE)

    target_sources(${name} PRIVATE ${ARG_SOURCES})

    # Debian's JUCE replaces the LV2 URI with the bare product name unless the macro is set
    # here, and hosts cannot instantiate a plug-in from a relative URI. Hosts store this URI,
    # the plug-in codes and the parameter IDs in their sessions: never change them.
    target_compile_definitions(${name} PUBLIC "JucePlugin_LV2URI=\"${ARG_URI}\"")

    target_link_libraries(${name} PRIVATE mosslight_juce mosslight_warnings ${ARG_LINK})

    # Runs after JUCE's own manifest step: plain values for the scale points of discrete parameters.
    add_custom_command(TARGET ${name}_LV2 POST_BUILD
        COMMAND lv2-fix-ttl "$<TARGET_FILE_DIR:${name}_LV2>/dsp.ttl"
        VERBATIM)
    add_dependencies(${name}_LV2 lv2-fix-ttl)

    # Where the built bundles are, for the install step, the hosts and the tests.
    set_target_properties(${name} PROPERTIES
        MOSSLIGHT_VST3_BUNDLE "$<PATH:GET_PARENT_PATH,$<PATH:GET_PARENT_PATH,$<TARGET_FILE_DIR:${name}_VST3>>>"
        MOSSLIGHT_LV2_BUNDLE "$<TARGET_FILE_DIR:${name}_LV2>")

    # JUCE opens libX11 with dlopen and closes it when the Standalone quits, while libX11's own
    # process-wide caches (locale, quarks, input method) still hold heap blocks: once the library
    # is unmapped LeakSanitizer finds nothing pointing at them and reports them, from an unknown
    # module that no suppression can name. Linked, libX11 stays mapped to the end.
    if(MOSSLIGHT_ASAN)
        target_link_options(${name}_Standalone PRIVATE "LINKER:--push-state,--no-as-needed,-l:libX11.so.6,--pop-state")
    endif()

    foreach(format VST3 LV2 Standalone)
        # The wrappers are JUCE's sources too.
        target_compile_options(${name}_${format} PRIVATE -w)
    endforeach()

    add_custom_target(${name}_install
        COMMAND "${CMAKE_COMMAND}" -E make_directory "$ENV{HOME}/.vst3" "$ENV{HOME}/.lv2"
        COMMAND "${CMAKE_COMMAND}" -E rm -rf "$ENV{HOME}/.vst3/${name}.vst3" "$ENV{HOME}/.lv2/${name}.lv2"
        COMMAND "${CMAKE_COMMAND}" -E copy_directory "$<TARGET_GENEX_EVAL:${name},$<TARGET_PROPERTY:${name},MOSSLIGHT_VST3_BUNDLE>>"
                "$ENV{HOME}/.vst3/${name}.vst3"
        COMMAND "${CMAKE_COMMAND}" -E copy_directory "$<TARGET_GENEX_EVAL:${name},$<TARGET_PROPERTY:${name},MOSSLIGHT_LV2_BUNDLE>>"
                "$ENV{HOME}/.lv2/${name}.lv2"
        DEPENDS ${name}_VST3 ${name}_LV2
        COMMENT "Installing ${name} into ~/.vst3 and ~/.lv2"
        VERBATIM)
    add_dependencies(install-plugins ${name}_install)
endfunction()

# A compile definition <macro>="<path of the built bundle>" for tests and tools, e.g.
# mosslight_bundle_definition(host_tests SORVEL_VST3 Sorvel VST3).
function(mosslight_bundle_definition target macro plugin format)
    target_compile_definitions(${target} PRIVATE
        "${macro}=\"$<TARGET_GENEX_EVAL:${plugin},$<TARGET_PROPERTY:${plugin},MOSSLIGHT_${format}_BUNDLE>>\"")
    add_dependencies(${target} ${plugin}_${format})
endfunction()
