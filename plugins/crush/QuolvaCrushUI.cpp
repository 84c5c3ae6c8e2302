// Zivaz editor: a row of sixteen Downsample buttons, a title that pixelates with
// the Downsample value, and five knobs over a painted panel.
#include "DistrhoUI.hpp"
#include "EditorCommon.hpp"
#include "crush-artwork.hpp"
#include "CrushParams.hpp"

#include <cmath>

START_NAMESPACE_DISTRHO

using DGL_NAMESPACE::quolva::clampTo;
using DGL_NAMESPACE::quolva::containsWithEdges;
using DGL_NAMESPACE::quolva::drawKnob;

class QuolvaCrushUI : public UI
{
public:
    QuolvaCrushUI()
        : UI(0, 0, false),
          fValues {},
          fRectBackground(0, 0, 800, 600),
          fRectLit(46, 160, 712, 37),
          fRectTitle(243, 43, 313, 38),
          fKnobRadius(35),
          fScale(1.0),
          fDragIndex(-1),
          fDragStart(0, 0),
          fDragStartValue(0.0f)
    {
        setGeometryConstraints(800, 600, true, false, true);
        fScale = getScaleFactor();

        namespace art = QuolvaCrushArt;
        fImgBackground = createImageFromMemory(art::kBackgroundData, art::kBackgroundDataSize, 0);
        fPaintBackground = paintFor(fImgBackground, fRectBackground);
        fImgLit = createImageFromMemory(art::kLitData, art::kLitDataSize, 0);
        fPaintLit = paintFor(fImgLit, fRectLit);
        const unsigned char* const titles[6] = { art::kTitle0Data, art::kTitle1Data, art::kTitle2Data,
                                                 art::kTitle3Data, art::kTitle4Data, art::kTitle5Data };
        const unsigned int titleSizes[6] = { art::kTitle0DataSize, art::kTitle1DataSize, art::kTitle2DataSize,
                                             art::kTitle3DataSize, art::kTitle4DataSize, art::kTitle5DataSize };
        for (int i = 0; i < 6; ++i)
        {
            fImgTitle[i] = createImageFromMemory(titles[i], titleSizes[i], 0);
            fPaintTitle[i] = paintFor(fImgTitle[i], fRectTitle);
        }

        fKnobCentre[kParamNoiseBias] = Point<float>(240, 502);
        fKnobCentre[kParamInputNoise] = Point<float>(318, 350);
        fKnobCentre[kParamOutputNoise] = Point<float>(477, 350);
        fKnobCentre[kParamDistort] = Point<float>(558, 502);
        fKnobCentre[kParamPostClip] = Point<float>(399, 502);

        fHitArea[kParamDownsample] = fRectLit;
        for (uint32_t i = kParamNoiseBias; i < kParamCount; ++i)
            fHitArea[i] = Rectangle<float>(fKnobCentre[i].getX() - fKnobRadius, fKnobCentre[i].getY() - fKnobRadius,
                                           2 * fKnobRadius, 2 * fKnobRadius);
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
        if (containsWithEdges(fHitArea[kParamDownsample], p))
        {
            // Sixteen equal columns of 44.5 units; the right edge selects 16.
            const float u = (p.getX() - 46.0f) * 16.0f / 712.0f;
            const float value = clampTo(std::round(u + 0.5f), 1.0f, 16.0f);
            setParameterValue(kParamDownsample, value);
            fValues[kParamDownsample] = value;
            repaint();
            return true;
        }
        for (uint32_t i = kParamNoiseBias; i < kParamCount; ++i)
        {
            if (containsWithEdges(fHitArea[i], p))
            {
                fDragIndex = static_cast<int32_t>(i);
                fDragStart = ev.pos;
                fDragStartValue = fValues[i];
                return true;
            }
        }
        return false;
    }

    bool onMotion(const MotionEvent& ev) override
    {
        if (fDragIndex < 0)
            return false;

        const uint32_t k = static_cast<uint32_t>(fDragIndex);
        const float d = DGL_NAMESPACE::quolva::dragDisplacement(fDragStart, ev.pos);
        // 140 design units sweep the whole range, whatever the scale.
        const float units = static_cast<float>(d / fScale);
        const float value = clampTo(fDragStartValue + units * (1.0f / 140.0f), 0.0f, 1.0f);
        setParameterValue(k, value);
        fValues[k] = value;
        repaint();
        return true;
    }

    void onNanoDisplay() override
    {
        const double s = fScale;
        const float downsample = fValues[kParamDownsample];

        beginPath();
        rect(0, 0, static_cast<float>(800 * s), static_cast<float>(600 * s));
        fillPaint(fPaintBackground);
        fill();

        beginPath();
        rect(static_cast<float>(fRectTitle.getX() * s), static_cast<float>(fRectTitle.getY() * s),
             static_cast<float>(fRectTitle.getWidth() * s), static_cast<float>(fRectTitle.getHeight() * s));
        fillPaint(fPaintTitle[titleIndex(downsample)]);
        fill();

        // The lit strip is cut to the buttons up to and including the selected one.
        const float litWidth = (fRectLit.getWidth() - 8.0f) * (downsample * 0.0625f) + 4.0f;
        beginPath();
        rect(static_cast<float>(fRectLit.getX() * s), static_cast<float>(fRectLit.getY() * s),
             static_cast<float>(litWidth * s), static_cast<float>(fRectLit.getHeight() * s));
        fillPaint(fPaintLit);
        fill();

        for (uint32_t k : { kParamInputNoise, kParamOutputNoise, kParamNoiseBias, kParamPostClip, kParamDistort })
            drawKnob(*this, fKnobCentre[k].getX(), fKnobCentre[k].getY(), fKnobRadius, s, fValues[k]);
    }

private:
    // Title 0 up to Downsample 6, then one step coarser every two values, 5 at most.
    static int titleIndex(float downsample)
    {
        const float r = std::round(downsample * 0.5f) - 3.0f;
        if (!(r >= 0.0f))
            return 0;
        return r > 5.0f ? 5 : static_cast<int>(r);
    }

    NanoVG::Paint paintFor(const NanoImage& image, const Rectangle<float>& r)
    {
        return imagePattern(static_cast<float>(r.getX() * fScale), static_cast<float>(r.getY() * fScale),
                            static_cast<float>(r.getWidth() * fScale), static_cast<float>(r.getHeight() * fScale),
                            0.0f, image, 1.0f);
    }

    float fValues[kParamCount];
    NanoImage fImgBackground;
    NanoImage fImgLit;
    NanoImage fImgTitle[6];
    NanoVG::Paint fPaintBackground;
    NanoVG::Paint fPaintLit;
    NanoVG::Paint fPaintTitle[6];
    Rectangle<float> fRectBackground;
    Rectangle<float> fRectLit;
    Rectangle<float> fRectTitle;
    float fKnobRadius;
    Point<float> fKnobCentre[kParamCount];
    double fScale;
    Rectangle<float> fHitArea[kParamCount];
    int32_t fDragIndex;
    Point<double> fDragStart;
    float fDragStartValue;

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(QuolvaCrushUI)
};

UI* createUI()
{
    return new QuolvaCrushUI();
}

END_NAMESPACE_DISTRHO
