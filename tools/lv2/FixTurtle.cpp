// Post-build step for the LV2 bundles, mending two faults of the description JUCE 7.0.5 writes:
// - scale points of discrete parameters (choices and switches) carry normalised values
//   (0, 0.25, .. 1) while the parameter's range, default and the values it accepts are plain
//   (0 .. 4), so hosts label every choice wrongly. Each scale point value v of a parameter becomes
//   minimum + v (maximum - minimum), the plain value for the linear ranges all our discrete
//   parameters have;
// - an empty maintainer mailbox "<>" resolves to the file itself, which hosts show as the
//   author's e-mail. It is left out.
//
// Usage: lv2-fix-ttl <dsp.ttl>   (rewrites the file in place; running it twice is safe)
#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>

namespace
{
std::string format(double v)
{
    std::ostringstream os;
    os.precision(9);
    os << v;
    return os.str();
}

bool readNumber(const std::string& block, const char* key, double& out)
{
    std::smatch m;
    if (!std::regex_search(block, m, std::regex(std::string(key) + R"(\s+(-?[0-9.eE+-]+))")))
        return false;
    out = std::stod(m[1].str());
    return true;
}

// Rewrites one "plug:x a lv2:Parameter ... ." block; returns it unchanged when it has no scale
// points or has been rewritten already (values no longer within 0..1 of a 0..N range).
std::string fixBlock(const std::string& block)
{
    if (block.find("lv2:scalePoint") == std::string::npos ||
        block.find("# plain scale points") != std::string::npos)
        return block;
    double minimum = 0, maximum = 1;
    if (!readNumber(block, "lv2:minimum", minimum) || !readNumber(block, "lv2:maximum", maximum))
        return block;

    const std::regex value(R"(rdf:value\s+(-?[0-9.eE+-]+))");
    std::string out;
    auto begin = block.cbegin();
    for (std::sregex_iterator it(block.begin(), block.end(), value), end; it != end; ++it)
    {
        const double normalised = std::stod((*it)[1].str());
        out.append(begin, block.cbegin() + it->position());
        out += "rdf:value " + format(minimum + normalised * (maximum - minimum));
        begin = block.cbegin() + it->position() + it->length();
    }
    out.append(begin, block.cend());
    return "# plain scale points\n" + out;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: lv2-fix-ttl <dsp.ttl>\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in)
    {
        std::cerr << "lv2-fix-ttl: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    in.close();

    // Blocks are separated by blank lines.
    std::string result;
    size_t pos = 0;
    while (pos < text.size())
    {
        size_t end = text.find("\n\n", pos);
        end = end == std::string::npos ? text.size() : end + 2;
        result += fixBlock(text.substr(pos, end - pos));
        pos = end;
    }
    for (size_t at; (at = result.find("\t\tfoaf:mbox <> ;\n")) != std::string::npos;)
        result.erase(at, std::string("\t\tfoaf:mbox <> ;\n").size());

    const std::string temp = std::string(argv[1]) + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << result;
        if (!out)
        {
            std::cerr << "lv2-fix-ttl: cannot write " << temp << "\n";
            return 1;
        }
    }
    if (std::rename(temp.c_str(), argv[1]) != 0)
    {
        std::cerr << "lv2-fix-ttl: cannot replace " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
