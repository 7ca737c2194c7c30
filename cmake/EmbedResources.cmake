# mosslight_embed_resources(<target> NAMESPACE <ns> HEADER <name.h> FILES <file>...)
#
# Compiles files into a static library as byte arrays, with the lookup tables JUCE projects
# know from BinaryData: <ns>::<name> and <ns>::<name>Size for each file (the name is the file
# name without the characters an identifier cannot hold, the dot becoming '_'),
# namedResourceList, originalFilenames, getNamedResource and getNamedResourceOriginalFilename.
# The lookups are common/assets/ResourceLookup.h (null-safe); the arrays, the tables and the
# header are generated at configure time and rewritten only when they change.
function(mosslight_embed_resources target)
    cmake_parse_arguments(ARG "" "NAMESPACE;HEADER" "FILES" ${ARGN})
    set(out_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}")
    set(ns "${ARG_NAMESPACE}")
    set(declarations "")
    set(names "")
    set(originals "")
    set(pointers "")
    set(sizes "")
    set(sources "")
    foreach(file ${ARG_FILES})
        get_filename_component(path "${file}" ABSOLUTE)
        get_filename_component(original "${file}" NAME)
        string(REGEX REPLACE "[^A-Za-z0-9_.]" "" name "${original}")
        string(REPLACE "." "_" name "${name}")
        file(SIZE "${path}" size)
        file(READ "${path}" hex HEX)
        string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
        string(REGEX REPLACE "(('[^']*',){24})" "\\1\n" bytes "${bytes}")
        string(CONCAT cpp "// Generated from ${original}: do not edit.\n"
                          "#include \"${ARG_HEADER}\"\n\n"
                          "namespace ${ns}\n{\nstatic const char ${name}_bytes[] = {\n${bytes}\n0};\n"
                          "const char* ${name} = ${name}_bytes;\n}\n")
        file(CONFIGURE OUTPUT "${out_dir}/${name}.cpp" CONTENT "${cpp}" @ONLY)
        list(APPEND sources "${out_dir}/${name}.cpp")
        string(APPEND declarations "    extern const char* ${name};\n    const int ${name}Size = ${size};\n\n")
        string(APPEND names "    \"${name}\",\n")
        string(APPEND originals "    \"${original}\",\n")
        string(APPEND pointers "    &${name},\n")
        string(APPEND sizes "    ${size},\n")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
    endforeach()
    list(LENGTH ARG_FILES count)
    string(CONCAT header "// Generated from the embedded resources: do not edit.\n#pragma once\n\n"
                         "namespace ${ns}\n{\n${declarations}"
                         "    // Number of entries in namedResourceList and originalFilenames.\n"
                         "    const int namedResourceListSize = ${count};\n"
                         "    extern const char* namedResourceList[];\n"
                         "    extern const char* originalFilenames[];\n\n"
                         "    // The bytes of a resource by its name (null and a size of 0 when there is none).\n"
                         "    const char* getNamedResource(const char* resourceNameUTF8, int& dataSizeInBytes);\n"
                         "    // The original file name of a resource by its name, or null.\n"
                         "    const char* getNamedResourceOriginalFilename(const char* resourceNameUTF8);\n"
                         "} // namespace ${ns}\n")
    file(CONFIGURE OUTPUT "${out_dir}/${ARG_HEADER}" CONTENT "${header}" @ONLY)
    string(CONCAT tables "// Generated from the embedded resources: do not edit.\n"
                         "#include \"${ARG_HEADER}\"\n#include \"common/assets/ResourceLookup.h\"\n\n"
                         "namespace ${ns}\n{\nconst char* namedResourceList[] = {\n${names}};\n\n"
                         "const char* originalFilenames[] = {\n${originals}};\n\n"
                         "static const char* const* const resourceData[] = {\n${pointers}};\n\n"
                         "static const int resourceSizes[] = {\n${sizes}};\n\n"
                         "const char* getNamedResource(const char* resourceNameUTF8, int& dataSizeInBytes)\n{\n"
                         "    return assets::findResource(resourceNameUTF8, dataSizeInBytes, namedResourceList,\n"
                         "                                resourceData, resourceSizes, namedResourceListSize);\n}\n\n"
                         "const char* getNamedResourceOriginalFilename(const char* resourceNameUTF8)\n{\n"
                         "    return assets::findOriginalFilename(resourceNameUTF8, namedResourceList,\n"
                         "                                        originalFilenames, namedResourceListSize);\n}\n"
                         "} // namespace ${ns}\n")
    file(CONFIGURE OUTPUT "${out_dir}/tables.cpp" CONTENT "${tables}" @ONLY)
    list(APPEND sources "${out_dir}/tables.cpp")

    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC "${out_dir}" PRIVATE "${CMAKE_SOURCE_DIR}")
    set_target_properties(${target} PROPERTIES
        POSITION_INDEPENDENT_CODE ON
        C_VISIBILITY_PRESET hidden
        CXX_VISIBILITY_PRESET hidden)
endfunction()
