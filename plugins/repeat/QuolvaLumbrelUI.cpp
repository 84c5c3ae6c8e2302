// Radeda editor: seven-segment read-outs, switches with lamps and knobs over a painted panel.
#include "DistrhoUI.hpp"
#include "EditorCommon.hpp"
#include "RepeatArtwork.hpp"
#include "RepeatParams.hpp"

#include <cmath>

START_NAMESPACE_DISTRHO

using DGL_NAMESPACE::quolva::clampTo;
using DGL_NAMESPACE::quolva::containsWithEdges;
using DGL_NAMESPACE::quolva::drawKnob;
using DGL_NAMESPACE::quolva::drawPicture;

namespace {

// Nearest integer, halves away from zero, as an unsigned count (negative and NaN give 0).
uint32_t roundToUnsigned(float v)
{
    const float r = std::round(v);
    if (!(r >= 0.0f))
        return 0;
    if (r >= 4294967295.0f)
        return 4294967295u;
    return static_cast<uint32_t>(r);
}

bool isSwitch(uint32_t i) { return i == kParamActive || i == kParamRetrigger || i == kParamVarispeed; }
bool isReadout(uint32_t i) { return i == kParamBpm || i == kParamBeats || i == kParamDivision; }

} // namespace

class QuolvaLumbrelUI : public UI
{
public:
    QuolvaLumbrelUI()
        : UI(),
          fValues {},
          fRectBackground(0, 0, 800, 600),
          fRectLamp(0, 0, 39, 39),
          fRectDigit(0, 0, 36, 52),
          fKnobRadius(35),
          fDigitCount {},
          fScale(1.0),
          fDragIndex(-1),
          fDragStart(0, 0),
          fDragStartValue(0.0f)
    {
        setGeometryConstraints(800, 600, true, false, true);
        fScale = getScaleFactor();

        namespace art = QuolvaRepeatArt;
        fImgBackground = createImageFromMemory(art::kBackgroundData, art::kBackgroundDataSize, 0);
        fPaintBackground = imagePattern(static_cast<float>(fRectBackground.getX() * fScale),
                                        static_cast<float>(fRectBackground.getY() * fScale),
                                        static_cast<float>(fRectBackground.getWidth() * fScale),
                                        static_cast<float>(fRectBackground.getHeight() * fScale),
                                        0.0f, fImgBackground, 1.0f);
        fImgLamp = createImageFromMemory(art::kLampData, art::kLampDataSize, 0);
        fImgSwitchOff = createImageFromMemory(art::kSwitchOffData, art::kSwitchOffDataSize, 0);
        fImgSwitchOn = createImageFromMemory(art::kSwitchOnData, art::kSwitchOnDataSize, 0);
        for (uint32_t d = 0; d < 10; ++d)
            fImgDigits[d] = createImageFromMemory(art::kDigitData[d], art::kDigitDataSize[d], 0);

        fDigitAnchor[kParamBpm] = Point<float>(209, 192);
        fDigitAnchor[kParamBeats] = Point<float>(399, 192);
        fDigitAnchor[kParamDivision] = Point<float>(543, 192);
        fDigitCount[kParamBpm] = 3;
        fDigitCount[kParamBeats] = 1;
        fDigitCount[kParamDivision] = 2;

        fRectSwitch[kParamActive] = Rectangle<float>(215, 299, 51, 56);
        fRectSwitch[kParamRetrigger] = Rectangle<float>(374, 299, 51, 56);
        fRectSwitch[kParamVarispeed] = Rectangle<float>(533, 299, 51, 56);

        fKnobCentre[kParamAttack] = Point<float>(321, 499);
        fKnobCentre[kParamHold] = Point<float>(480, 499);
        fKnobCentre[kParamRelease] = Point<float>(639, 499);
        fKnobCentre[kParamSpeed] = Point<float>(160, 499);

        for (uint32_t i = 0; i < kParamCount; ++i)
        {
            if (isSwitch(i))
            {
                fHitArea[i] = fRectSwitch[i];
            }
            else if (isReadout(i))
            {
                // 14 left of the leftmost digit centre to 14 right of the rightmost, 42 above and below.
                const float n = fDigitCount[i];
                fHitArea[i] = Rectangle<float>(fDigitAnchor[i].getX() - 14, fDigitAnchor[i].getY() - 42,
                                               30 * n - 2, 84);
            }
            else
            {
                const Point<float>& c = fKnobCentre[i];
                fHitArea[i] = Rectangle<float>(c.getX() - fKnobRadius, c.getY() - fKnobRadius,
                                               2 * fKnobRadius, 2 * fKnobRadius);
            }
        }
    }

protected:
    // Required by the framework because state is enabled; the plug-in declares no
    // states of its own, so this is never called.
    void stateChanged(const char*, const char*) override {}

    void parameterChanged(uint32_t index, float value) override
    {
        if (index >= kParamCount)
            return;
        fValues[index] = value;
        repaint();
    }

    bool onMouse(const MouseEvent& ev) override
    {
        if (ev.button != 1)
            return false;
        if (!ev.press)
        {
            fDragIndex = -1;
            return true;
        }

        const Point<float> p = DGL_NAMESPACE::quolva::toDesign(ev.pos, fScale);
        for (uint32_t i = 0; i < kParamCount; ++i)
        {
            if (!containsWithEdges(fHitArea[i], p))
                continue;

            if (isSwitch(i))
            {
                sendValue(i, fValues[i] == 0.0f ? 1.0f : 0.0f);
            }
            else if (isReadout(i))
            {
                stepReadout(i, p);
            }
            else
            {
                fDragIndex = static_cast<int32_t>(i);
                fDragStart = ev.pos;
                fDragStartValue = fValues[i];
            }
            return true;
        }
        return false;
    }

    bool onMotion(const MotionEvent& ev) override
    {
        if (fDragIndex < 0)
            return false;

        const uint32_t k = static_cast<uint32_t>(fDragIndex);
        const float d = DGL_NAMESPACE::quolva::dragDisplacement(fDragStart, ev.pos);
        const float range = kParamMax[k] - kParamMin[k];
        // 140 design units sweep the whole range.
        const float delta = static_cast<float>(static_cast<double>(range) / fScale * d);
        const float v = fDragStartValue + delta * (1.0f / 140.0f);
        sendValue(k, clampTo(v, kParamMin[k], kParamMax[k]));
        return true;
    }

    void onNanoDisplay() override
    {
        const double s = fScale;

        beginPath();
        rect(0, 0, static_cast<float>(800 * s), static_cast<float>(600 * s));
        fillPaint(fPaintBackground);
        fill();
        closePath();

        for (uint32_t k : { kParamBpm, kParamBeats, kParamDivision })
        {
            const uint32_t n = fDigitCount[k];
            const uint32_t u = roundToUnsigned(fValues[k]);
            uint32_t divisor = 1;
            for (uint32_t i = 1; i < n; ++i)
                divisor *= 10;
            for (uint32_t i = 0; i < n; ++i, divisor /= 10)
            {
                const uint32_t digit = (u / divisor) % 10;
                drawPicture(*this, fImgDigits[digit],
                            fDigitAnchor[k].getX() - 18 + 30 * static_cast<float>(i), fDigitAnchor[k].getY() - 26,
                            fRectDigit.getWidth(), fRectDigit.getHeight(), s);
            }
        }

        struct SwitchLamp { uint32_t index; float lampX; };
        for (const SwitchLamp sw : { SwitchLamp { kParamActive, 221 }, SwitchLamp { kParamRetrigger, 380 },
                                     SwitchLamp { kParamVarispeed, 540 } })
        {
            const Rectangle<float>& r = fRectSwitch[sw.index];
            if (fValues[sw.index] == 1.0f)
            {
                drawPicture(*this, fImgLamp, sw.lampX, 355, fRectLamp.getWidth(), fRectLamp.getHeight(), s);
                drawPicture(*this, fImgSwitchOn, r.getX(), r.getY(), r.getWidth(), r.getHeight(), s);
            }
            else
            {
                drawPicture(*this, fImgSwitchOff, r.getX(), r.getY(), r.getWidth(), r.getHeight(), s);
            }
        }

        for (uint32_t k : { kParamSpeed, kParamAttack, kParamHold, kParamRelease })
        {
            const float t = (fValues[k] - kParamMin[k]) / (kParamMax[k] - kParamMin[k]);
            drawKnob(*this, fKnobCentre[k].getX(), fKnobCentre[k].getY(), fKnobRadius, s, t);
        }
    }

private:
    void sendValue(uint32_t index, float value)
    {
        setParameterValue(index, value);
        fValues[index] = value;
        repaint();
    }

    // Upper third of a digit column steps it up, lower third down, by the digit's weight.
    void stepReadout(uint32_t index, const Point<float>& p)
    {
        const Rectangle<float>& area = fHitArea[index];
        const uint32_t n = fDigitCount[index];
        const float nf = static_cast<float>(n);

        float c = std::round(nf * ((p.getX() - area.getX()) / area.getWidth() + 1.0f / (2.0f * nf)));
        c = c < 1.0f ? 1.0f : std::min(c, nf);
        float r = std::round(((p.getY() - area.getY()) / area.getHeight() - 1.0f / 6.0f) * 3.0f);
        r = r < 0.0f ? 0.0f : std::min(r, 2.0f);
        if (r == 1.0f)
            return;

        float step = r == 0.0f ? 1.0f : -1.0f;
        for (uint32_t i = static_cast<uint32_t>(c); i < n; ++i)
            step *= 10.0f;

        float v = fValues[index] + step;
        if (v < kParamMin[index])
            v = kParamMin[index];
        else if (v > kParamMax[index])
            v = kParamMax[index];
        sendValue(index, v);
    }

    float fValues[kParamCount];
    NanoImage fImgBackground;
    NanoImage fImgLamp;
    NanoImage fImgSwitchOff;
    NanoImage fImgSwitchOn;
    NanoImage fImgDigits[10];
    NanoVG::Paint fPaintBackground;
    Rectangle<float> fRectBackground;
    Rectangle<float> fRectLamp;
    Rectangle<float> fRectDigit;
    float fKnobRadius;
    Point<float> fDigitAnchor[kParamCount];
    uint8_t fDigitCount[kParamCount];
    Point<float> fKnobCentre[kParamCount];
    Rectangle<float> fRectSwitch[kParamCount];
    double fScale;
    Rectangle<float> fHitArea[kParamCount];
    int32_t fDragIndex;
    Point<double> fDragStart;
    float fDragStartValue;

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(QuolvaLumbrelUI)
};

UI* createUI()
{
    return new QuolvaLumbrelUI();
}

END_NAMESPACE_DISTRHO
