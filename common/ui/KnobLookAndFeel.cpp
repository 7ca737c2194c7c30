#include "KnobLookAndFeel.h"

#include "ImageOps.h"

#include <cmath>

namespace ui
{
namespace
{
constexpr size_t maxFaces = 25;

juce::Colour alpha(juce::Colour c, int value)
{
    return c.withAlpha(static_cast<juce::uint8>(value));
}

// The face picture at n x n pixels: shrunk exactly from the smallest picture at least n wide,
// or scaled up from the large one.
juce::Image facePicture(const Style& style, int n)
{
    const auto& picture = style.knob128.getWidth() < n ? style.knob256 : style.knob128;
    if (!picture.isValid())
        return {};
    if (picture.getWidth() < n)
        return picture.rescaled(n, n, juce::Graphics::highResamplingQuality);
    return detail::fromPremultiplied(
        detail::areaResample(detail::premultiplied(picture), picture.getWidth(), picture.getHeight(), n, n),
        n, n);
}
} // namespace

RotaryGeometry RotaryGeometry::of(float x, float y, float width, float height)
{
    RotaryGeometry geo;
    const float ah = juce::jmax(height - 10.0f, 0.0f), aw = juce::jmax(width - 10.0f, 0.0f);
    geo.outerRadius = juce::jmin(ah, aw) * 0.5f;
    geo.track = juce::jlimit(2.5f, 3.5f, geo.outerRadius * 0.09f);
    geo.arcRadius = geo.outerRadius - geo.track * 0.5f;
    geo.centreX = x + 5.0f + aw * 0.5f;
    geo.centreY = y + 5.0f + ah * 0.5f;
    geo.knobRadius =
        juce::jmax(geo.arcRadius - geo.track * 0.5f - juce::jmax(geo.outerRadius * 0.1f, 3.0f), 6.0f);
    return geo;
}

float valueArcOrigin(double minimum, double maximum, float startAngle, float endAngle)
{
    const double zero = minimum < 0 && maximum > 0 ? (0 - minimum) / (maximum - minimum) : 0.0;
    return startAngle + static_cast<float>(zero) * (endAngle - startAngle);
}

juce::Image renderKnobFace(const Style& style, int n)
{
    const int margin = juce::jmax(juce::roundToInt(n * 0.17), 3);
    const int size = n + 2 * margin;
    const float half = static_cast<float>(size) * 0.5f;
    juce::Image face(juce::Image::ARGB, size, size, true);

    {
        // A soft round shadow, pushed down.
        juce::Image::BitmapData data(face, juce::Image::BitmapData::writeOnly);
        const float sx = half, sy = half + static_cast<float>(n) * 0.07f;
        const float rho = static_cast<float>(n) * 0.5f;
        for (int j = 0; j < size; ++j)
        {
            for (int i = 0; i < size; ++i)
            {
                const float dist =
                    std::hypot(static_cast<float>(i) + 0.5f - sx, static_cast<float>(j) + 0.5f - sy);
                const float u = juce::jlimit(0.0f, 1.0f, (dist - rho * 0.82f) / (rho * 0.4f));
                const float a = (1.0f - u * u * (3.0f - 2.0f * u)) * 0.5f;
                if (a > 0.002f)
                    reinterpret_cast<juce::PixelARGB*>(data.getPixelPointer(i, j))
                        ->setARGB(static_cast<juce::uint8>(juce::roundToInt(a * 255.0f)), 0, 0, 0);
            }
        }
    }

    juce::Graphics g(face);
    const float m = static_cast<float>(margin), d = static_cast<float>(n);
    const auto picture = facePicture(style, n);
    if (picture.isValid())
    {
        g.drawImageAt(picture, margin, margin);
    }
    else
    {
        g.setColour(towardsWhite(panel, 0.06f));
        g.fillEllipse(m, m, d, d);
    }

    const float ring = juce::jmax(d / 56.0f, 1.0f), q = ring * 0.5f;
    g.setColour(alpha(juce::Colours::black, 0x8c));
    g.drawEllipse(m - q, m - q, juce::jmax(d + 2 * q, 0.0f), juce::jmax(d + 2 * q, 0.0f), ring);

    juce::ColourGradient rim(alpha(juce::Colours::white, 0x57), half, m, alpha(juce::Colours::white, 0x0d),
                             half, d + m, false);
    rim.addColour(0.55, juce::Colours::transparentWhite);
    g.setGradientFill(rim);
    g.drawEllipse(m + q, m + q, juce::jmax(d - 2 * q, 0.0f), juce::jmax(d - 2 * q, 0.0f), ring);
    return face;
}
} // namespace ui

KnobLookAndFeel::KnobLookAndFeel()
{
    ui::applyColours(*this);
}

juce::Typeface::Ptr KnobLookAndFeel::getTypefaceForFont(const juce::Font& font)
{
    return style->getTypefaceForFont(font);
}

juce::Font KnobLookAndFeel::getPopupMenuFont()
{
    return ui::font(14.0f, ui::Weight::Regular);
}

juce::Font KnobLookAndFeel::getComboBoxFont(juce::ComboBox& box)
{
    return ui::font(juce::jmin(static_cast<float>(box.getHeight()) * 0.6f, 13.0f), ui::Weight::Regular);
}

juce::Font KnobLookAndFeel::getTextButtonFont(juce::TextButton&, int buttonHeight)
{
    return ui::font(juce::jmin(static_cast<float>(buttonHeight) * 0.56f, 13.0f), ui::Weight::Medium);
}

juce::Label* KnobLookAndFeel::createSliderTextBox(juce::Slider& slider)
{
    auto* label = juce::LookAndFeel_V4::createSliderTextBox(slider);
    label->setFont(ui::font(13.0f, ui::Weight::SemiBold));
    label->setJustificationType(juce::Justification::centred);
    return label;
}

void KnobLookAndFeel::drawRotarySlider(juce::Graphics& g, int x, int y, int width, int height, float position,
                                       float startAngle, float endAngle, juce::Slider& slider)
{
    const auto geo = ui::RotaryGeometry::of(static_cast<float>(x), static_cast<float>(y),
                                            static_cast<float>(width), static_cast<float>(height));
    ui::RotaryLook look;
    look.fill = slider.findColour(juce::Slider::rotarySliderFillColourId);
    look.enabled = slider.isEnabled();
    look.highlighted = look.enabled && slider.isMouseOverOrDragging();
    drawRotary(g, geo, position, startAngle, endAngle,
               ui::valueArcOrigin(slider.getMinimum(), slider.getMaximum(), startAngle, endAngle), look);
}

void KnobLookAndFeel::drawRotary(juce::Graphics& g, const ui::RotaryGeometry& geo, float position,
                                 float startAngle, float endAngle, float originAngle,
                                 const ui::RotaryLook& look)
{
    const float cx = geo.centreX, cy = geo.centreY, r = geo.arcRadius, t = geo.track, k = geo.knobRadius;
    const float angle = startAngle + position * (endAngle - startAngle);
    const bool lit = look.enabled && look.highlighted;
    const auto valueColour = lit ? ui::towardsWhite(look.fill, 0.22f) : look.fill;
    const int haloAlpha = lit ? 0x1a : 0x0f;

    if (auto* s = ui::Style::current)
    {
        const float scale = ui::pixelScale(g, 0.25f);
        const int n = juce::jlimit(8, 1024, juce::roundToInt(2.0f * k * scale));
        auto found = s->knobCache.find(n);
        if (found == s->knobCache.end())
        {
            if (s->knobCache.size() >= ui::maxFaces)
                s->knobCache.clear();
            found = s->knobCache.emplace(n, ui::renderKnobFace(*s, n)).first;
        }
        const auto& face = found->second;
        const float side = static_cast<float>(face.getWidth()) / scale;
        juce::Graphics::ScopedSaveState saved(g);
        g.setImageResamplingQuality(juce::Graphics::lowResamplingQuality);
        g.drawImageTransformed(
            face, juce::AffineTransform::scale(1.0f / scale).translated(cx - side * 0.5f, cy - side * 0.5f));
    }
    else
    {
        g.setColour(ui::towardsWhite(ui::panel, 0.06f));
        g.fillEllipse(cx - k, cy - k, 2 * k, 2 * k);
    }

    arc.clear();
    arc.addCentredArc(cx, cy, r, r, 0, startAngle, endAngle, true);
    g.setColour(ui::slot);
    g.strokePath(arc, juce::PathStrokeType(t, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));

    const float halo = r + t * 0.5f + 0.5f;
    arc.clear();
    arc.addCentredArc(cx, cy, halo, halo, 0, startAngle, endAngle, true);
    g.setColour(ui::alpha(juce::Colours::white, haloAlpha));
    g.strokePath(arc, juce::PathStrokeType(1.0f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt));

    if (std::abs(angle - originAngle) > 0.005f)
    {
        arc.clear();
        arc.addCentredArc(cx, cy, r, r, 0, juce::jmin(angle, originAngle), juce::jmax(angle, originAngle),
                          true);
        g.setColour(valueColour);
        g.strokePath(arc,
                     juce::PathStrokeType(t, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
    }

    const float sine = std::sin(angle), cosine = std::cos(angle);
    const juce::Point<float> inner(cx + sine * 0.4f * k, cy - cosine * 0.4f * k);
    const juce::Point<float> outer(cx + sine * 0.8f * k, cy - cosine * 0.8f * k);
    const juce::Point<float> along(sine * 0.5f, -cosine * 0.5f);
    g.setColour(ui::alpha(juce::Colours::black, 0x8c));
    g.drawLine({inner - along, outer + along}, juce::jmax(k / 27.0f * 3.6f, 1.5f));
    g.setColour(ui::towardsWhite(look.fill, 0.35f));
    g.drawLine({inner, outer}, juce::jmax(k / 27.0f * 2.2f, 1.2f));
}

void KnobLookAndFeel::drawLinearSlider(juce::Graphics& g, int x, int y, int width, int height,
                                       float sliderPos, float minSliderPos, float maxSliderPos,
                                       juce::Slider::SliderStyle sliderStyle, juce::Slider& slider)
{
    const bool horizontal = sliderStyle == juce::Slider::LinearHorizontal;
    if (!horizontal && sliderStyle != juce::Slider::LinearVertical)
    {
        juce::LookAndFeel_V4::drawLinearSlider(g, x, y, width, height, sliderPos, minSliderPos, maxSliderPos,
                                               sliderStyle, slider);
        return;
    }

    const float fx = static_cast<float>(x), fy = static_cast<float>(y);
    const float fw = static_cast<float>(width), fh = static_cast<float>(height);
    const auto track = horizontal ? juce::Rectangle<float>(fx, fy + (fh - 4) * 0.5f, fw, 4)
                                  : juce::Rectangle<float>(fx + (fw - 4) * 0.5f, fy, 4, fh);
    g.setColour(ui::slot);
    g.fillRoundedRectangle(track, 2);

    auto fill = slider.findColour(juce::Slider::trackColourId);
    if (slider.isEnabled() && slider.isMouseOverOrDragging())
        fill = ui::towardsWhite(fill, 0.2f);
    g.setColour(fill);
    if (horizontal)
        g.fillRoundedRectangle(track.withRight(juce::jmax(track.getX() + 4, sliderPos)), 2);
    else
        g.fillRoundedRectangle(track.withTop(juce::jmin(sliderPos, track.getBottom() - 4)), 2);

    const float v = horizontal ? juce::jmin(fh - 2, 12.0f) : juce::jmin(fw - 2, 12.0f);
    const juce::Point<float> centre = horizontal ? juce::Point<float>(sliderPos, fy + fh * 0.5f)
                                                 : juce::Point<float>(fx + fw * 0.5f, sliderPos);
    const float shadow = juce::jmax(v + 1, 0.0f);
    g.setColour(ui::alpha(juce::Colours::black, 0x73));
    g.fillEllipse(centre.x - v / 2 - 0.5f, centre.y - v / 2 + 0.5f, shadow, shadow);
    g.setColour(slider.findColour(juce::Slider::thumbColourId));
    g.fillEllipse(centre.x - v / 2, centre.y - v / 2, v, v);
}

void KnobLookAndFeel::drawLabel(juce::Graphics& g, juce::Label& label)
{
    auto* slider = dynamic_cast<juce::Slider*>(label.getParentComponent());
    if (slider == nullptr || label.isBeingEdited())
    {
        juce::LookAndFeel_V2::drawLabel(g, label);
        return;
    }

    const bool dragging = slider->isMouseButtonDown() && slider->isEnabled();
    const bool rotary = slider->isRotary();
    const auto accent = rotary ? slider->findColour(juce::Slider::rotarySliderFillColourId)
                               : slider->findColour(juce::Slider::trackColourId).withAlpha(1.0f);
    const float w = static_cast<float>(label.getWidth()), h = static_cast<float>(label.getHeight());

    const auto background = label.findColour(juce::Label::backgroundColourId);
    if (!background.isTransparent())
    {
        g.setColour(dragging ? ui::towardsWhite(background, 0.05f) : background);
        g.fillRoundedRectangle(label.getLocalBounds().toFloat(), 3);
    }

    auto textColour = label.findColour(juce::Label::textColourId);
    if (dragging)
    {
        g.setColour(ui::alpha(accent, 0xa6));
        g.drawRoundedRectangle(0.5f, 0.5f, juce::jmax(w - 1, 0.0f), juce::jmax(h - 1, 0.0f), 3, 1);
        textColour = ui::towardsWhite(accent, 0.25f);
    }
    if (!label.isEnabled())
        textColour = textColour.withAlpha(
            static_cast<juce::uint8>(juce::jmin(255, juce::roundToInt(textColour.getAlpha() * 0.5f))));

    g.setColour(textColour);
    g.setFont(getLabelFont(label));
    g.drawFittedText(label.getText(), label.getBorderSize().subtractedFrom(label.getLocalBounds()),
                     label.getJustificationType(), 1, label.getMinimumHorizontalScale());
}

void KnobLookAndFeel::drawComboBox(juce::Graphics& g, int width, int height, bool isButtonDown, int, int, int,
                                   int, juce::ComboBox& box)
{
    const float fw = static_cast<float>(width), fh = static_cast<float>(height);
    const float wr = juce::jmax(fw - 1, 0.0f), hr = juce::jmax(fh - 1, 0.0f);
    const bool hover = box.isEnabled() && box.isMouseOver(true);

    const auto background = box.findColour(juce::ComboBox::backgroundColourId);
    g.setGradientFill(juce::ColourGradient(ui::towardsWhite(background, hover ? 0.07f : 0.035f), 0, 0.5f,
                                           background, 0, hr + 0.5f, false));
    g.fillRoundedRectangle(0.5f, 0.5f, wr, hr, 4);

    g.setColour(ui::alpha(juce::Colours::white, 0x0d));
    g.fillRect(4.5f, 1.0f, wr - 8, 1.0f);

    auto outline = box.findColour(juce::ComboBox::outlineColourId);
    if (isButtonDown || hover)
        outline = ui::towardsWhite(outline, 0.12f);
    g.setColour(outline);
    g.drawRoundedRectangle(0.5f, 0.5f, wr, hr, 4, 1);

    shape.clear();
    shape.startNewSubPath(fw - 14.5f, fh * 0.5f - 1.75f);
    shape.lineTo(fw - 11.0f, fh * 0.5f + 1.75f);
    shape.lineTo(fw - 7.5f, fh * 0.5f - 1.75f);
    g.setColour(ui::alpha(box.findColour(juce::ComboBox::arrowColourId), box.isEnabled() ? 0xe6 : 0x4c));
    g.strokePath(shape,
                 juce::PathStrokeType(1.5f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
}

void KnobLookAndFeel::drawButtonBackground(juce::Graphics& g, juce::Button& button,
                                           const juce::Colour& backgroundColour, bool highlighted, bool down)
{
    const float wr = juce::jmax(static_cast<float>(button.getWidth()) - 1, 0.0f);
    const float hr = juce::jmax(static_cast<float>(button.getHeight()) - 1, 0.0f);
    const bool on = button.getToggleState();

    auto base = backgroundColour;
    if (!button.isEnabled())
        base = base.withAlpha(static_cast<juce::uint8>(juce::roundToInt(base.getAlpha() / 2.0f)));
    const auto c = down          ? ui::towardsBlack(base, on ? 0.15f : 0.3f)
                   : highlighted ? ui::towardsWhite(base, on ? 0.1f : 0.05f)
                                 : base;

    const bool left = button.isConnectedOnLeft(), right = button.isConnectedOnRight();
    const bool top = button.isConnectedOnTop(), bottom = button.isConnectedOnBottom();
    shape.clear();
    shape.addRoundedRectangle(0.5f, 0.5f, wr, hr, 4, 4, !(left || top), !(right || top), !(left || bottom),
                              !(right || bottom));
    g.setGradientFill(juce::ColourGradient(ui::towardsWhite(c, on ? 0.08f : 0.035f), 0, 0.5f,
                                           ui::towardsBlack(c, on ? 0.06f : 0.0f), 0, hr + 0.5f, false));
    g.fillPath(shape);

    if (!down)
    {
        const float inLeft = left || top ? 0.5f : 4.0f, inRight = right || top ? 0.5f : 4.0f;
        g.setColour(ui::alpha(juce::Colours::white, on ? 0x38 : 0x0d));
        g.fillRect(inLeft + 0.5f, 1.0f, wr - inLeft - inRight, 1.0f);
    }

    g.setColour(on            ? ui::towardsBlack(c, 0.35f)
                : highlighted ? ui::towardsWhite(ui::panelEdge, 0.12f)
                              : ui::panelEdge);
    g.strokePath(shape,
                 juce::PathStrokeType(1.0f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt));
}
