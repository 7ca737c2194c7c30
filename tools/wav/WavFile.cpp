#include "WavFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace wav
{
namespace
{
std::uint32_t le32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t le16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void put32(std::ofstream& f, std::uint32_t v)
{
    const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
    f.write(b, 4);
}

void put16(std::ofstream& f, std::uint16_t v)
{
    const char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
    f.write(b, 2);
}
} // namespace

bool read(const std::string& path, Audio& out, std::string& error)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
    {
        error = "cannot open " + path;
        return false;
    }
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
    {
        error = path + " is not a WAV file";
        return false;
    }

    int format = 0, channels = 0, bits = 0;
    std::uint32_t rate = 0;
    const unsigned char* data = nullptr;
    std::size_t dataSize = 0;
    for (std::size_t pos = 12; pos + 8 <= bytes.size();)
    {
        const std::uint32_t size = le32(&bytes[pos + 4]);
        const unsigned char* body = &bytes[pos + 8];
        const std::size_t available = std::min<std::size_t>(size, bytes.size() - pos - 8);
        if (std::memcmp(&bytes[pos], "fmt ", 4) == 0 && available >= 16)
        {
            format = le16(body);
            channels = le16(body + 2);
            rate = le32(body + 4);
            bits = le16(body + 14);
            if (format == 0xFFFE && available >= 26) // extensible: the real format follows
                format = le16(body + 24);
        }
        else if (std::memcmp(&bytes[pos], "data", 4) == 0)
        {
            data = body;
            dataSize = available;
        }
        pos += 8 + size + (size & 1u);
    }

    const bool pcm = format == 1 && (bits == 16 || bits == 24 || bits == 32);
    const bool floating = format == 3 && bits == 32;
    if (data == nullptr || channels < 1 || rate == 0 || !(pcm || floating))
    {
        error = path + ": unsupported WAV format";
        return false;
    }

    const std::size_t frameBytes = static_cast<std::size_t>(channels) * static_cast<std::size_t>(bits / 8);
    const std::size_t frames = dataSize / frameBytes;
    out.sampleRate = rate;
    out.channels.assign(static_cast<std::size_t>(channels), std::vector<float>(frames));
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
        {
            const unsigned char* s = data + i * frameBytes + static_cast<std::size_t>(c * bits / 8);
            float v = 0.0f;
            if (floating)
                std::memcpy(&v, s, 4);
            else if (bits == 16)
                v = static_cast<float>(static_cast<std::int16_t>(le16(s))) / 32768.0f;
            else if (bits == 24)
            {
                // The three bytes go to the top of a 32-bit word, which keeps the sign.
                const auto word = static_cast<std::uint32_t>(s[0]) << 8 |
                                  static_cast<std::uint32_t>(s[1]) << 16 |
                                  static_cast<std::uint32_t>(s[2]) << 24;
                v = static_cast<float>(static_cast<double>(static_cast<std::int32_t>(word)) / 2147483648.0);
            }
            else
                v = static_cast<float>(static_cast<double>(static_cast<std::int32_t>(le32(s))) /
                                       2147483648.0);
            out.channels[static_cast<std::size_t>(c)][i] = v;
        }
    return true;
}

bool write24(const std::string& path, const Audio& audio, std::string& error)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f)
    {
        error = "cannot write " + path;
        return false;
    }
    const auto channels = static_cast<std::uint16_t>(audio.numChannels());
    const auto frames = static_cast<std::uint32_t>(audio.numSamples());
    const std::uint32_t dataBytes = frames * channels * 3u;
    const auto rate = static_cast<std::uint32_t>(std::lround(audio.sampleRate));

    f.write("RIFF", 4);
    put32(f, 36 + dataBytes);
    f.write("WAVEfmt ", 8);
    put32(f, 16);
    put16(f, 1);
    put16(f, channels);
    put32(f, rate);
    put32(f, rate * channels * 3u);
    put16(f, static_cast<std::uint16_t>(channels * 3u));
    put16(f, 24);
    f.write("data", 4);
    put32(f, dataBytes);
    for (std::uint32_t i = 0; i < frames; ++i)
        for (std::uint16_t c = 0; c < channels; ++c)
        {
            const float v = std::clamp(audio.channels[c][i], -1.0f, 1.0f);
            const auto s = static_cast<std::int32_t>(std::lround(static_cast<double>(v) * 8388607.0));
            const char b[3] = {static_cast<char>(s), static_cast<char>(s >> 8), static_cast<char>(s >> 16)};
            f.write(b, 3);
        }
    if (!f)
    {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace wav
