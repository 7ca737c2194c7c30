// mosslight-gallery: renders every kit component and Sorvel's views, headless, into PNG files at 100 % and
// 200 %.
//
// Usage: mosslight-gallery <output folder>
#include "SorvelSheets.h"

#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: mosslight-gallery <output folder>\n";
        return 2;
    }
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    const juce::File folder = juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]);
    if (!folder.createDirectory())
    {
        std::cerr << "cannot create " << folder.getFullPathName() << "\n";
        return 1;
    }

    std::vector<gallery::SheetInfo> all = gallery::sheets();
    for (const auto& sheet : gallery::sorvelSheets())
        all.push_back(sheet);
    for (const auto& sheet : all)
    {
        gallery::StubProcessor processor;
        auto editor = sheet.make(processor);
        for (const int percent : {100, 200})
        {
            const auto file =
                folder.getChildFile(juce::String(sheet.name) + "@" + juce::String(percent) + ".png");
            const auto image = gallery::render(*editor, static_cast<float>(percent) / 100.0f);
            file.deleteFile();
            juce::FileOutputStream out(file);
            juce::PNGImageFormat png;
            if (!out.openedOk() || !png.writeImageToStream(image, out))
            {
                std::cerr << "cannot write " << file.getFullPathName() << "\n";
                return 1;
            }
            std::cout << file.getFullPathName() << "\n";
        }
    }
    return 0;
}
