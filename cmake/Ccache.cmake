# Use ccache when it is there. JUCE stamps __DATE__/__TIME__ into some files, so without
# time_macros sloppiness ccache would never hit on them. The base directory makes paths relative
# to the checkout, so a second clone or worktree of the same sources hits the same cache entries.
find_program(MOSSLIGHT_CCACHE ccache)
if(MOSSLIGHT_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    set(launcher "${CMAKE_COMMAND}" -E env CCACHE_SLOPPINESS=time_macros
        "CCACHE_BASEDIR=${CMAKE_SOURCE_DIR}" "${MOSSLIGHT_CCACHE}")
    set(CMAKE_C_COMPILER_LAUNCHER ${launcher})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${launcher})
    message(STATUS "Using ccache: ${MOSSLIGHT_CCACHE}")
endif()
