// Drawing and pointer arithmetic shared by both editors.
#pragma once

#include "NanoVG.hpp"
#include "Geometry.hpp"

#include <cmath>
#include <cstdint>

START_NAMESPACE_DGL

namespace quolva {

// The knob: a dark disc with a white ring and a white pointer from the centre to
// the rim. t = 0 points left, 0.5 up, 1 right (clockwise through 180 degrees);
// t is not limited, so a value beyond the range points beyond the half circle.
inline void drawKnob(NanoVG& vg, float cx, float cy, float radius, double scale, float t)
{
    vg.beginPath();
    vg.circle(static_cast<float>(cx * scale), static_cast<float>(cy * scale), static_cast<float>(radius * scale));
    vg.fillColor(45, 47, 44, 255);
    vg.fill();
    vg.strokeColor(255, 255, 255, 255);
    vg.strokeWidth(static_cast<float>(2.5 * scale));
    vg.stroke();
    vg.closePath();

    // 3.14159 taken to single precision, not pi: the pointer's end points are
    // fixed by this constant.
    const double theta = (static_cast<double>(t) - 0.5) * static_cast<double>(3.14159f);
    vg.beginPath();
    vg.moveTo(static_cast<float>(cx * scale), static_cast<float>(cy * scale));
    vg.lineTo(static_cast<float>((cx + radius * std::sin(theta)) * scale),
              static_cast<float>((cy - radius * std::cos(theta)) * scale));
    vg.strokeColor(255, 255, 255, 255);
    vg.strokeWidth(static_cast<float>(2.5 * scale));
    vg.stroke();
    vg.closePath();
}

// Draws a picture stretched over the design rectangle (x, y, w, h).
inline void drawPicture(NanoVG& vg, const NanoImage& image, float x, float y, float w, float h, double scale)
{
    const float sx = static_cast<float>(x * scale), sy = static_cast<float>(y * scale);
    const float sw = static_cast<float>(w * scale), sh = static_cast<float>(h * scale);
    const NanoVG::Paint paint = vg.imagePattern(sx, sy, sw, sh, 0.0f, image, 1.0f);
    vg.beginPath();
    vg.rect(sx, sy, sw, sh);
    vg.fillPaint(paint);
    vg.fill();
    vg.closePath();
}

// Design-space point of a pointer position given in window pixels.
inline Point<float> toDesign(const Point<double>& pos, double scale)
{
    return Point<float>(static_cast<float>(pos.getX() / scale), static_cast<float>(pos.getY() / scale));
}

// Hit test with all four edges belonging to the rectangle.
inline bool containsWithEdges(const Rectangle<float>& r, const Point<float>& p)
{
    return p.getX() >= r.getX() && p.getY() >= r.getY()
        && p.getX() <= r.getX() + r.getWidth() && p.getY() <= r.getY() + r.getHeight();
}

// Knob drag: the axis with the larger displacement since the press wins, a tie
// goes to the vertical; up and right are positive.
inline float dragDisplacement(const Point<double>& start, const Point<double>& pos)
{
    const double dx = pos.getX() - start.getX();
    const double dy = start.getY() - pos.getY();
    return static_cast<float>(std::fabs(dy) >= std::fabs(dx) ? dy : dx);
}

// Limits to at most hi, then to at least lo; a NaN becomes lo.
inline float clampTo(float v, float lo, float hi)
{
    if (v > hi)
        v = hi;
    if (!(v >= lo))
        v = lo;
    return v;
}

} // namespace quolva

END_NAMESPACE_DGL
