// Name lookups over a table of embedded resources, used by the generated KaAssets tables.
// Both accept any name pointer, null included.
#pragma once

#include <cstdint>
#include <cstring>

namespace assets
{
// Names are compared by this hash only, as JUCE's BinaryData does: bytes as signed chars,
// h = 31 h + c modulo 2^32.
constexpr std::uint32_t nameHash(const char* name)
{
    std::uint32_t h = 0;
    if (name != nullptr)
        for (; *name != 0; ++name)
            h = 31u * h + static_cast<std::uint32_t>(static_cast<signed char>(*name));
    return h;
}

inline const char* findResource(const char* name, int& size, const char* const* names,
                                const char* const* const* data, const int* sizes, int count)
{
    if (name != nullptr && *name != 0)
    {
        const auto hash = nameHash(name);
        for (int i = 0; i < count; ++i)
        {
            if (nameHash(names[i]) == hash)
            {
                size = sizes[i];
                return *data[i];
            }
        }
    }
    size = 0;
    return nullptr;
}

inline const char* findOriginalFilename(const char* name, const char* const* names,
                                        const char* const* originals, int count)
{
    if (name == nullptr)
        return nullptr;
    for (int i = 0; i < count; ++i)
        if (std::strcmp(names[i], name) == 0)
            return originals[i];
    return nullptr;
}
} // namespace assets
