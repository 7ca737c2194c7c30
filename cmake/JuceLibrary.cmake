# One static JUCE library for everything we build: both plug-ins, the hosts and every test
# binary link it, so JUCE's modules compile exactly once per configuration. Plug-in specific
# settings (JucePlugin_*) only matter to the format wrappers, which each plug-in compiles itself.
#
# Hosting (VST3, LV2) is compiled in because the render tool and the test host need it; the
# wrappers include the VST3 SDK headers-only in that case, so nothing is defined twice.
add_library(mosslight_juce STATIC)

target_link_libraries(mosslight_juce
    PRIVATE
        juce::juce_audio_utils
        juce::juce_audio_processors
        juce::juce_audio_formats
        juce::juce_audio_devices
        juce::juce_gui_extra
        juce::juce_dsp
    PUBLIC
        juce::juce_recommended_config_flags
        # Debian's JUCE decodes images with the system libpng and libjpeg.
        juce::pkgconfig_JUCE_IMG_LINUX_DEPS)

target_compile_definitions(mosslight_juce
    PUBLIC
        # Debian strips the bundled codecs and web views; we use none of them.
        JUCE_WEB_BROWSER=0
        JUCE_USE_CURL=0
        JUCE_USE_FLAC=0
        JUCE_USE_OGGVORBIS=0
        JUCE_USE_MP3AUDIOFORMAT=0
        JUCE_USE_LAME_AUDIO_FORMAT=0
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_REPORT_APP_USAGE=0
        JUCE_VST3_CAN_REPLACE_VST2=0
        JUCE_STRICT_REFCOUNTEDPOINTER=1
        JUCE_PLUGINHOST_VST3=1
        JUCE_PLUGINHOST_LV2=1
        JUCE_JACK=0
        # Hosts (render, the test host) pump messages while a VST3 reports latency changes.
        JUCE_MODAL_LOOPS_PERMITTED=1
    INTERFACE
        # Consumers compile against the same module settings as the library itself.
        $<TARGET_PROPERTY:mosslight_juce,COMPILE_DEFINITIONS>)

target_include_directories(mosslight_juce INTERFACE
    $<TARGET_PROPERTY:mosslight_juce,INCLUDE_DIRECTORIES>)

# Hidden symbols: two of our plug-ins (each with its own copy of JUCE) may share a host process.
set_target_properties(mosslight_juce PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)

# JUCE's own sources are not ours to warn about.
target_compile_options(mosslight_juce PRIVATE -w)
