# Warning flags for our own code (never for JUCE's sources).
add_library(mosslight_warnings INTERFACE)
target_compile_options(mosslight_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wsign-conversion -Wcast-align -Woverloaded-virtual
    -Wnon-virtual-dtor -Wimplicit-fallthrough -Wformat=2
    # GCC 12 reports dangling pointers inside JUCE's own headers that are not real.
    $<$<CXX_COMPILER_ID:GNU>:-Wno-dangling-pointer>)

# Plain C++ engine code: optimised like the plug-ins, warned like the rest of our code.
# GCC keeps float compares in loops as branches unless it may assume that floating-point
# exceptions never trap (nothing here enables traps); with it, per-sample level maths (clamps,
# floors, smoothsteps over a piece) vectorises. Clang does this by default.
add_library(mosslight_engine_flags INTERFACE)
target_compile_options(mosslight_engine_flags INTERFACE $<$<CONFIG:Release>:-O3>
    $<$<CXX_COMPILER_ID:GNU>:-fno-trapping-math>)
target_link_libraries(mosslight_engine_flags INTERFACE mosslight_warnings)
