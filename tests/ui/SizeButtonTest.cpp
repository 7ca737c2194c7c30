#include "KitTestSupport.h"

#include "common/ui/SizeButton.h"

#include <cstdlib>

namespace
{
// Points the settings file at a folder of the test's own, never the user's.
class SizeButtonTest : public kittest::KitTest
{
protected:
    void SetUp() override
    {
        folder = juce::File::createTempFile("settings");
        ASSERT_TRUE(folder.createDirectory());
        ASSERT_EQ(setenv("XDG_CONFIG_HOME", folder.getFullPathName().toRawUTF8(), 1), 0);
        ASSERT_TRUE(SizeButton::settingsFile().isAChildOf(folder)) << "would touch the user's settings";
        EXPECT_EQ(SizeButton::settingsFile(), folder.getChildFile("mosslight/plugins.settings"));
    }

    void TearDown() override { folder.deleteRecursively(); }

    void store(const juce::String& key, int value)
    {
        auto file = SizeButton::settings();
        file->setValue(key, value);
        ASSERT_TRUE(file->save());
    }

    int stored(const juce::String& key) { return SizeButton::settings()->getIntValue(key, 0); }

    juce::File folder;
    gallery::StubProcessor processor;
};

// An editor laid out at 1060 x 470, as the second plug-in's is.
struct Editor
{
    explicit Editor(juce::AudioProcessor& p, const juce::String& name = "Mirrel") : editor(p)
    {
        content.setSize(1060, 470);
        editor.addAndMakeVisible(content);
        button.attach(editor, content, 1060, 470, name);
    }
    gallery::StubEditor editor;
    juce::Component content;
    SizeButton button;
};
} // namespace

TEST_F(SizeButtonTest, withoutASettingsFileTheEditorOpensAt100)
{
    Editor e(processor);
    EXPECT_EQ(e.button.scale, 100);
    EXPECT_EQ(e.button.getButtonText(), "100 %");
    EXPECT_EQ(e.editor.getWidth(), 1060);
    EXPECT_EQ(e.editor.getHeight(), 470);
    EXPECT_EQ(e.button.getBounds(), juce::Rectangle<int>(914, 13, 58, 22));
    EXPECT_EQ(e.button.getParentComponent(), &e.content);
    EXPECT_EQ(e.button.getTooltip(), "window size");
    EXPECT_EQ(e.button.key, "scale.Mirrel");
    EXPECT_FALSE(e.editor.isResizable());
    EXPECT_FALSE(SizeButton::settingsFile().exists()); // reading writes nothing
}

TEST_F(SizeButtonTest, aChosenScaleResizesIsStoredAndOpensTheNextEditor)
{
    {
        Editor e(processor);
        e.button.menuCallback()(150);
        EXPECT_EQ(e.editor.getWidth(), 1590);
        EXPECT_EQ(e.editor.getHeight(), 705);
        EXPECT_EQ(e.button.getButtonText(), "150 %");
        EXPECT_EQ(stored("scale.Mirrel"), 150);
        EXPECT_EQ(stored("scale.Sorvel2"), 0);

        // The file is JUCE's XML properties layout.
        const auto xml = juce::parseXML(SizeButton::settingsFile());
        ASSERT_NE(xml, nullptr);
        EXPECT_TRUE(xml->hasTagName("PROPERTIES"));
        ASSERT_NE(xml->getChildByName("VALUE"), nullptr);
        EXPECT_EQ(xml->getChildByName("VALUE")->getStringAttribute("name"), "scale.Mirrel");

        e.button.menuCallback()(0); // dismissed: nothing changes
        EXPECT_EQ(e.button.scale, 150);
    }
    Editor next(processor);
    EXPECT_EQ(next.button.scale, 150);
    EXPECT_EQ(next.editor.getWidth(), 1590);

    // Another plug-in keeps its own key in the same file.
    gallery::StubEditor sorvel(processor);
    juce::Component content;
    SizeButton other;
    other.attach(sorvel, content, 1200, 560, "Sorvel2");
    EXPECT_EQ(sorvel.getWidth(), 1200);
    other.apply(115, true);
    EXPECT_EQ(sorvel.getWidth(), 1380);
    EXPECT_EQ(sorvel.getHeight(), 644);
    EXPECT_EQ(stored("scale.Sorvel2"), 115);
    EXPECT_EQ(stored("scale.Mirrel"), 150);
}

TEST_F(SizeButtonTest, aStoredValueThatIsNoChoiceOpensAt100AndIsNotWrittenBack)
{
    for (const int bad : {120, -5})
    {
        store("scale.Mirrel", bad);
        const auto written = SizeButton::settingsFile().loadFileAsString();
        Editor e(processor);
        EXPECT_EQ(e.button.scale, 100) << bad;
        EXPECT_EQ(e.editor.getWidth(), 1060) << bad;
        EXPECT_EQ(SizeButton::settingsFile().loadFileAsString(), written) << bad;
    }
}

TEST_F(SizeButtonTest, aCorruptOrUnreadableFileReadsAsEmpty)
{
    ASSERT_TRUE(SizeButton::settingsFile().getParentDirectory().createDirectory());
    ASSERT_TRUE(
        SizeButton::settingsFile().replaceWithText("<PROPERTIES><VALUE name=\"scale.Mirrel\" val=\"150\""));
    EXPECT_EQ(stored("scale.Mirrel"), 0);
    {
        Editor e(processor);
        EXPECT_EQ(e.button.scale, 100);
        e.button.apply(130, true); // the write replaces the corrupt file
        EXPECT_EQ(e.editor.getWidth(), 1378);
    }
    EXPECT_EQ(stored("scale.Mirrel"), 130);

    // A folder where the file should be: it can be neither read nor written.
    ASSERT_TRUE(SizeButton::settingsFile().deleteFile());
    ASSERT_TRUE(SizeButton::settingsFile().createDirectory());
    Editor e(processor);
    EXPECT_EQ(e.button.scale, 100);
    e.button.apply(175, true); // the failed write only loses the stored value
    EXPECT_EQ(e.button.scale, 175);
    EXPECT_EQ(e.editor.getWidth(), 1855);
}

TEST_F(SizeButtonTest, theMenuTicksTheCurrentScale)
{
    Editor e(processor);
    e.button.apply(130, false);
    std::vector<int> ids;
    std::vector<juce::String> texts;
    int ticked = 0, headers = 0;
    const auto menu = e.button.menu();
    for (juce::PopupMenu::MenuItemIterator it(menu); it.next();)
    {
        const auto& item = it.getItem();
        if (item.isSectionHeader)
        {
            ++headers;
            EXPECT_EQ(item.text, "window size");
            continue;
        }
        ids.push_back(item.itemID);
        texts.push_back(item.text);
        EXPECT_TRUE(item.isEnabled);
        if (item.isTicked)
            ticked = item.itemID;
    }
    EXPECT_EQ(headers, 1);
    EXPECT_EQ(ids, (std::vector<int>{90, 100, 115, 130, 150, 175, 200}));
    EXPECT_EQ(texts[2], "115 %");
    EXPECT_EQ(ticked, 130);
}

TEST_F(SizeButtonTest, aMenuAnswerAfterTheButtonIsGoneDoesNothing)
{
    std::function<void(int)> answer;
    {
        Editor e(processor);
        answer = e.button.menuCallback();
    }
    answer(200);
    EXPECT_FALSE(SizeButton::settingsFile().exists());
}
