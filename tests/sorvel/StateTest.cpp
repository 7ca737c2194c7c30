#include "sorvel/PluginProcessor.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <random>

namespace
{
std::vector<float> plainValues(Sorvel2Processor& p)
{
    std::vector<float> values;
    for (auto* prm : p.getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(prm);
        values.push_back(ranged->convertFrom0to1(ranged->getValue()));
    }
    return values;
}

// Moves every parameter away from its default so a restore (or a failure to ignore) shows.
void randomise(Sorvel2Processor& p, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (auto* prm : p.getParameters())
        prm->setValueNotifyingHost(u(rng));
}

juce::MemoryBlock stateOf(Sorvel2Processor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation(block);
    return block;
}

juce::MemoryBlock blobFromXml(const juce::String& text)
{
    juce::MemoryBlock block;
    auto xml = juce::parseXML(text);
    juce::AudioProcessor::copyXmlToBinary(*xml, block);
    return block;
}

float plain(Sorvel2Processor& p, const char* id)
{
    auto* prm = p.apvts.getParameter(id);
    return prm->convertFrom0to1(prm->getValue());
}
} // namespace

TEST(SorvelState, roundTripOnAFreshInstanceRestoresAll36Values)
{
    Sorvel2Processor source;
    randomise(source, 7);
    const auto blob = stateOf(source);

    Sorvel2Processor restored;
    restored.setStateInformation(blob.getData(), static_cast<int>(blob.getSize()));
    EXPECT_EQ(plainValues(restored), plainValues(source));
}

TEST(SorvelState, blobIsJuceBinaryXmlOfTheParameterTree)
{
    Sorvel2Processor p;
    const auto blob = stateOf(p);
    ASSERT_GT(blob.getSize(), 8u);
    const auto* bytes = static_cast<const unsigned char*>(blob.getData());
    EXPECT_EQ(bytes[0], 0x56);
    EXPECT_EQ(bytes[1], 0x43);
    EXPECT_EQ(bytes[2], 0x32);
    EXPECT_EQ(bytes[3], 0x21);
    EXPECT_EQ(bytes[blob.getSize() - 1], 0) << "terminating zero";

    auto xml = juce::AudioProcessor::getXmlFromBinary(blob.getData(), static_cast<int>(blob.getSize()));
    ASSERT_NE(xml, nullptr);
    EXPECT_EQ(xml->getTagName(), "PARAMS");
    EXPECT_EQ(xml->getNumChildElements(), 36);
    EXPECT_EQ(xml->getNumAttributes(), 0) << "nothing but the parameters";
    for (auto* child : xml->getChildIterator())
    {
        EXPECT_EQ(child->getTagName(), "PARAM");
        EXPECT_EQ(child->getNumAttributes(), 2);
    }
    // Plain values, not normalised ones.
    EXPECT_EQ(xml->getChildByAttribute("id", "deessFreq")->getDoubleAttribute("value"), 2900.0);
    EXPECT_EQ(xml->getChildByAttribute("id", "compMix")->getDoubleAttribute("value"), 100.0);
}

TEST(SorvelState, rootTagIsMatchedIgnoringCase)
{
    Sorvel2Processor p;
    const auto lower = blobFromXml(R"(<params><PARAM id="comp" value="7"/></params>)");
    p.setStateInformation(lower.getData(), static_cast<int>(lower.getSize()));
    EXPECT_FLOAT_EQ(plain(p, "comp"), 7.0f);

    const auto other = blobFromXml(R"(<STATE><PARAM id="comp" value="2"/></STATE>)");
    p.setStateInformation(other.getData(), static_cast<int>(other.getSize()));
    EXPECT_FLOAT_EQ(plain(p, "comp"), 7.0f) << "another root tag is ignored";

    // What we save afterwards is still our own format.
    auto xml = juce::AudioProcessor::getXmlFromBinary(stateOf(p).getData(), static_cast<int>(stateOf(p).getSize()));
    EXPECT_EQ(xml->getTagName(), "PARAMS");
}

TEST(SorvelState, badBlobsAreIgnored)
{
    Sorvel2Processor reference;
    const auto good = stateOf(reference);

    std::vector<std::pair<const char*, juce::MemoryBlock>> blobs;
    {
        std::mt19937 rng(3);
        juce::MemoryBlock noise(4096);
        for (size_t i = 0; i < noise.getSize(); ++i)
            noise[i] = static_cast<char>(rng());
        blobs.emplace_back("random bytes", noise);
    }
    blobs.emplace_back("truncated", juce::MemoryBlock(good.getData(), good.getSize() / 2));
    {
        auto wrongMagic = good;
        wrongMagic[0] = 0x57;
        blobs.emplace_back("wrong magic", wrongMagic);
    }
    {
        // Declares a million bytes, holds half of the text.
        juce::MemoryBlock oversized(good.getData(), good.getSize() / 2);
        const juce::uint32 huge = juce::ByteOrder::swapIfBigEndian(juce::uint32{1000000});
        oversized.copyFrom(&huge, 4, 4);
        blobs.emplace_back("byte count larger than the data", oversized);
    }
    blobs.emplace_back("header only", juce::MemoryBlock(good.getData(), 8));
    blobs.emplace_back("empty", juce::MemoryBlock());

    for (const auto& [what, blob] : blobs)
    {
        Sorvel2Processor p;
        randomise(p, 11);
        const auto before = plainValues(p);
        p.setStateInformation(blob.getData(), static_cast<int>(blob.getSize()));
        EXPECT_EQ(plainValues(p), before) << what;
    }

    Sorvel2Processor p;
    randomise(p, 11);
    const auto before = plainValues(p);
    p.setStateInformation(nullptr, 0);
    EXPECT_EQ(plainValues(p), before) << "null data";
}

TEST(SorvelState, nonFiniteValuesInAStateNeverReachTheParameters)
{
    Sorvel2Processor p;
    p.apvts.getParameter("output")->setValueNotifyingHost(p.apvts.getParameter("output")->convertTo0to1(-3.0f));
    const auto blob = blobFromXml(R"(<PARAMS><PARAM id="output" value="nan"/><PARAM id="input" value="inf"/>)"
                                  R"(<PARAM id="comp" value="6"/></PARAMS>)");
    p.setStateInformation(blob.getData(), static_cast<int>(blob.getSize()));

    EXPECT_FLOAT_EQ(plain(p, "output"), -3.0f) << "a damaged value keeps the current one";
    EXPECT_FLOAT_EQ(plain(p, "input"), 0.0f);
    EXPECT_FLOAT_EQ(plain(p, "comp"), 6.0f) << "the rest of the blob still loads";
    EXPECT_TRUE(std::isfinite(p.apvts.getRawParameterValue("output")->load()));
}

TEST(SorvelState, outOfRangeValuesAreClampedByTheRanges)
{
    Sorvel2Processor p;
    const auto blob = blobFromXml(R"(<PARAMS><PARAM id="input" value="1e9"/><PARAM id="hpf" value="-7"/></PARAMS>)");
    p.setStateInformation(blob.getData(), static_cast<int>(blob.getSize()));
    EXPECT_FLOAT_EQ(plain(p, "input"), 24.0f);
    EXPECT_FLOAT_EQ(plain(p, "hpf"), 0.0f);
}
