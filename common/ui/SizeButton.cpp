#include "SizeButton.h"

#include <algorithm>
#include <cstdlib>

SizeButton::SizeButton() = default;
SizeButton::~SizeButton() = default;

bool SizeButton::isChoice(int percent)
{
    return std::find(choices.begin(), choices.end(), percent) != choices.end();
}

juce::PropertiesFile::Options SizeButton::settingsOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "plugins";
    options.filenameSuffix = ".settings";
    options.folderName = "mosslight";
    options.osxLibrarySubFolder = "Application Support";
    return options;
}

juce::File SizeButton::settingsFile()
{
    const auto options = settingsOptions();
#if JUCE_LINUX || JUCE_BSD
    // JUCE would put a visible folder straight into the home folder; Linux keeps settings in the
    // XDG configuration home.
    juce::File home;
    if (const char* configured = std::getenv("XDG_CONFIG_HOME"); configured != nullptr && *configured == '/')
        home = juce::File(juce::CharPointer_UTF8(configured));
    else
        home = juce::File("~/.config");
    return home.getChildFile(options.folderName)
        .getChildFile(options.applicationName + options.filenameSuffix);
#else
    return options.getDefaultFile();
#endif
}

std::unique_ptr<juce::PropertiesFile> SizeButton::settings()
{
    return std::make_unique<juce::PropertiesFile>(settingsFile(), settingsOptions());
}

void SizeButton::attach(juce::AudioProcessorEditor& e, juce::Component& content, int width, int height,
                        const juce::String& name)
{
    editor = &e;
    baseWidth = width;
    baseHeight = height;
    key = "scale." + name;

    setColour(juce::TextButton::buttonColourId, ui::slot);
    setColour(juce::TextButton::textColourOffId, ui::dim);
    setTooltip("window size");
    content.addAndMakeVisible(*this);
    setBounds(baseWidth - 146, 13, 58, 22);
    onClick = [this] { showMenu(); };
    e.setResizable(false, false);

    const int stored = settings()->getIntValue(key, 0);
    apply(isChoice(stored) ? stored : 100, false);
}

void SizeButton::apply(int percent, bool save)
{
    scale = percent;
    const auto label = juce::String(percent) + " %";
    if (getButtonText() != label)
        setButtonText(label); // repaints

    if (save)
    {
        auto file = settings();
        file->setValue(key, percent); // marks the file for writing only when the value changed
        if (file->needsToBeSaved())
            file->save(); // best effort: a failed write only loses the stored value
    }

    if (editor != nullptr)
        editor->setSize(juce::roundToInt(percent * baseWidth / 100.0),
                        juce::roundToInt(percent * baseHeight / 100.0));
}

juce::PopupMenu SizeButton::menu() const
{
    juce::PopupMenu m;
    m.addSectionHeader("window size");
    for (const int percent : choices)
        m.addItem(percent, juce::String(percent) + " %", true, percent == scale);
    return m;
}

std::function<void(int)> SizeButton::menuCallback()
{
    return [safe = juce::Component::SafePointer<SizeButton>(this)](int result)
    {
        if (safe != nullptr && result > 0)
            safe->apply(result, true);
    };
}

void SizeButton::showMenu()
{
    menu().showMenuAsync(juce::PopupMenu::Options().withTargetComponent(this), menuCallback());
}
