#pragma once

// Golden renders: each scenario's output is reduced to a hash of its samples' bits (with its peak
// and RMS, for the reader) and checked against a file kept in the repository, so any change of
// sound, down to the last bit, fails the test that made it.
//
// Switches (environment variables):
// - MOSSLIGHT_UPDATE_GOLDEN=1 rewrites the file with what the build renders now (a change of
//   sound that is intended; say why in the commit);
// - MOSSLIGHT_GOLDEN_DUMP=<folder> writes every render there as raw 32-bit floats;
// - MOSSLIGHT_GOLDEN_REFERENCE=<folder> compares every render that differs with the one dumped
//   there by an earlier build and reports the largest difference, in dB below the render's peak.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport
{

class GoldenFile
{
public:
    struct Entry
    {
        std::uint64_t hash = 0;
        double peak = 0.0, rms = 0.0;
    };

    explicit GoldenFile(std::string path) : file(std::move(path))
    {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line))
        {
            if (line.empty() || line[0] == '#')
                continue;
            std::istringstream fields(line);
            std::string name, hash;
            Entry e;
            if (fields >> name >> hash >> e.peak >> e.rms)
            {
                e.hash = std::strtoull(hash.c_str(), nullptr, 16);
                entries[name] = e;
            }
        }
    }

    static std::uint64_t hashOf(const std::vector<float>& samples)
    {
        std::uint64_t h = 0xcbf29ce484222325ull; // FNV-1a
        for (const float x : samples)
        {
            std::uint32_t bits;
            std::memcpy(&bits, &x, sizeof bits);
            for (int b = 0; b < 4; ++b)
            {
                h ^= (bits >> (8 * b)) & 0xffu;
                h *= 0x100000001b3ull;
            }
        }
        return h;
    }

    // `samples` is the audio (its peak and RMS are noted); `extras`, if any, are further values
    // the render published (meters, traces), hashed after it.
    void check(const std::string& name, std::vector<float> samples, const std::vector<float>& extras = {})
    {
        Entry now;
        double energy = 0.0;
        for (const float x : samples)
        {
            now.peak = std::max(now.peak, static_cast<double>(std::abs(x)));
            energy += static_cast<double>(x) * x;
        }
        now.rms = std::sqrt(energy / static_cast<double>(std::max<size_t>(samples.size(), 1)));
        samples.insert(samples.end(), extras.begin(), extras.end());
        now.hash = hashOf(samples);

        if (const char* dump = std::getenv("MOSSLIGHT_GOLDEN_DUMP"))
            writeRaw(std::string(dump) + "/" + fileName(name), samples);

        const auto stored = entries.find(name);
        const bool same = stored != entries.end() && stored->second.hash == now.hash;
        if (!same)
            if (const char* reference = std::getenv("MOSSLIGHT_GOLDEN_REFERENCE"))
                reportDifference(name, samples, std::string(reference) + "/" + fileName(name));

        if (std::getenv("MOSSLIGHT_UPDATE_GOLDEN") != nullptr)
        {
            entries[name] = now;
            save();
            return;
        }
        if (stored == entries.end())
        {
            ADD_FAILURE() << "no golden render for " << name << " in " << file
                          << " (MOSSLIGHT_UPDATE_GOLDEN=1 writes it)";
            return;
        }
        EXPECT_TRUE(same) << name << " changed: hash " << hex(now.hash) << " (golden "
                          << hex(stored->second.hash) << "), peak " << now.peak << " (" << stored->second.peak
                          << "), RMS " << now.rms << " (" << stored->second.rms << ")";
    }

private:
    static std::string hex(std::uint64_t h)
    {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
        return text;
    }

    static std::string fileName(std::string name)
    {
        std::replace(name.begin(), name.end(), '/', '_');
        return name + ".f32";
    }

    static void writeRaw(const std::string& path, const std::vector<float>& samples)
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(samples.data()),
                  static_cast<std::streamsize>(samples.size() * sizeof(float)));
    }

    static void reportDifference(const std::string& name, const std::vector<float>& samples,
                                 const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::vector<float> old(samples.size());
        in.read(reinterpret_cast<char*>(old.data()),
                static_cast<std::streamsize>(old.size() * sizeof(float)));
        if (!in)
        {
            std::printf("golden %s: no reference at %s\n", name.c_str(), path.c_str());
            return;
        }
        double largest = 0.0, peak = 0.0;
        size_t at = 0;
        for (size_t i = 0; i < samples.size(); ++i)
        {
            peak = std::max(peak, static_cast<double>(std::abs(old[i])));
            const double d = std::abs(static_cast<double>(samples[i]) - old[i]);
            if (d > largest)
            {
                largest = d;
                at = i;
            }
        }
        std::printf("golden %s: largest difference %.3g at sample %zu, %.1f dB below the peak\n",
                    name.c_str(), largest, at, largest > 0.0 ? 20.0 * std::log10(peak / largest) : 999.0);
    }

    void save() const
    {
        std::ofstream out(file);
        out << "# Golden renders: scenario, hash of the samples' bits (FNV-1a, 64 bits), peak, RMS.\n"
               "# Rewritten by MOSSLIGHT_UPDATE_GOLDEN=1 (see tests/support/Golden.h).\n";
        char line[256];
        for (const auto& [name, e] : entries)
        {
            std::snprintf(line, sizeof line, "%s %s %.6g %.6g\n", name.c_str(), hex(e.hash).c_str(), e.peak,
                          e.rms);
            out << line;
        }
    }

    std::string file;
    std::map<std::string, Entry> entries;
};

} // namespace testsupport
