#include "sorvel/PluginProcessor.h"
#include "support/ParameterAccess.h"
#include "support/ProcessorChecks.h"

#include <gtest/gtest.h>

namespace
{
using testsupport::blobFromXml;
using testsupport::plainValues;
using testsupport::stateOf;

float plain(Sorvel2Processor& p, const char* id)
{
    return testsupport::plainValue(p.apvts, id);
}
} // namespace

TEST(SorvelState, roundTripOnAFreshInstanceRestoresAll36Values)
{
    testsupport::expectStateRoundTrip<Sorvel2Processor>();
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
    auto xml =
        juce::AudioProcessor::getXmlFromBinary(stateOf(p).getData(), static_cast<int>(stateOf(p).getSize()));
    EXPECT_EQ(xml->getTagName(), "PARAMS");
}

TEST(SorvelState, badBlobsAreIgnored)
{
    testsupport::expectBadStatesIgnored<Sorvel2Processor>();
}

TEST(SorvelState, nonFiniteValuesInAStateNeverReachTheParameters)
{
    Sorvel2Processor p;
    testsupport::setPlain(p.apvts, "output", -3.0f);
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
    const auto blob =
        blobFromXml(R"(<PARAMS><PARAM id="input" value="1e9"/><PARAM id="hpf" value="-7"/></PARAMS>)");
    p.setStateInformation(blob.getData(), static_cast<int>(blob.getSize()));
    EXPECT_FLOAT_EQ(plain(p, "input"), 24.0f);
    EXPECT_FLOAT_EQ(plain(p, "hpf"), 0.0f);
}
