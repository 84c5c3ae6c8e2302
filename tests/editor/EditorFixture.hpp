// An editor opened through our host under a virtual display, real pointer input
// through XTest, and helpers to probe its screenshots.
#pragma once

#include "quolva/editor.h"
#include "quolva/image.h"
#include "quolva/instance.h"
#include "quolva/module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quolva::test {

// Pointer input as the X server generates it for a real mouse (XTest), on a
// display connection of its own.
class Pointer
{
public:
    Pointer();
    ~Pointer();
    Pointer(const Pointer&) = delete;
    Pointer& operator=(const Pointer&) = delete;

    bool ok() const { return fDisplay != nullptr; }
    // Moves to pixel (x, y) relative to `window`'s top left corner (may lie outside it).
    void moveTo(unsigned long window, int x, int y);
    void press(unsigned button);
    void release(unsigned button);

private:
    void* fDisplay = nullptr; // Display*
};

// One plug-in loaded through our host, active and processing, with its editor open.
class EditorSession
{
public:
    // Opens the module at `path` and its editor at `scale`; on failure records a
    // gtest failure and leaves isOpen() false.
    EditorSession(const std::string& path, double scale);
    ~EditorSession();

    bool isOpen() const { return fEditor && fEditor->isOpen(); }
    host::Instance& instance() { return *fInstance; }
    host::Editor& editor() { return *fEditor; }
    double scale() const { return fScale; }

    // Sends the values as host parameter changes and runs the idle loop until the
    // editor has been told about them (one block to apply them, one timer round
    // to report them to the editor).
    void setValues(const std::vector<std::pair<uint32_t, double>>& values);

    // One idle round; the parameter values the plug-in reported are appended to reported().
    void tick();
    // Ticks until `done()` holds or `timeoutMs` ran out; returns done().
    bool tickUntil(const std::function<bool()>& done, int timeoutMs = 8000);
    std::vector<host::ParamEvent>& reported() { return fReported; }

    // Ticks until a screenshot satisfies `check` (which returns an empty string when
    // satisfied and otherwise what is wrong), or the time runs out. Returns the
    // last complaint, empty on success.
    std::string waitForPicture(const std::function<std::string(const host::Image&)>& check,
                               int timeoutMs = 8000);
    host::Image screenshot() { return fEditor->screenshot(); }

private:
    double fScale;
    std::unique_ptr<host::Module> fModule;
    std::unique_ptr<host::Instance> fInstance;
    std::unique_ptr<host::Editor> fEditor;
    std::vector<host::ParamEvent> fReported;
};

// ---- pointer scripts, in design units

struct PointerAction
{
    enum Kind { Move, Press, Release } kind = Move;
    double x = 0.0; // design units, for Move
    double y = 0.0;
    unsigned button = 1; // for Press and Release
};
using Script = std::vector<PointerAction>;

inline Script moveTo(double x, double y) { return { { PointerAction::Move, x, y, 0 } }; }
inline Script press(unsigned button = 1) { return { { PointerAction::Press, 0, 0, button } }; }
inline Script release(unsigned button = 1) { return { { PointerAction::Release, 0, 0, button } }; }
inline Script operator+(Script a, const Script& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline Script click(double x, double y, unsigned button = 1) { return moveTo(x, y) + press(button) + release(button); }
// Presses button 1 at (x, y), moves to each (right, up) offset from there, releases.
Script drag(double x, double y, const std::vector<std::pair<double, double>>& rightUp);

struct ExpectedEvent
{
    uint32_t id;
    double value;
};

// Plays `script` with real pointer events at the session's scale, then `sentinel`
// (a click whose single parameter event is known), and waits for the sentinel's
// event. Returns every parameter event the host received meanwhile except the
// sentinel's. As the editor handles pointer events in order, everything the
// script caused has arrived once the sentinel's event has.
std::vector<host::ParamEvent> play(EditorSession& session, Pointer& pointer, const Script& script,
                                   const Script& sentinel, const ExpectedEvent& sentinelEvent,
                                   size_t expectedBeforeSentinel);

// Compares received events with the expected ones (ids exactly, values within 1e-6).
::testing::AssertionResult sameEvents(const std::vector<ExpectedEvent>& expected,
                                      const std::vector<host::ParamEvent>& got);

// ---- pixel probes

inline int luminance(const host::Rgba& p) { return (p.r * 299 + p.g * 587 + p.b * 114) / 1000; }
inline bool isWhite(const host::Rgba& p) { return p.r >= 150 && p.g >= 150 && p.b >= 150; }
inline std::string describe(const host::Rgba& p)
{
    return "(" + std::to_string(p.r) + "," + std::to_string(p.g) + "," + std::to_string(p.b) + ")";
}

// The pixel that holds design point (x, y) at `scale`.
inline host::Rgba designPixel(const host::Image& shot, double scale, double x, double y)
{
    return shot.at(static_cast<int64_t>(std::floor(x * scale)), static_cast<int64_t>(std::floor(y * scale)));
}

// Whether the knob at (cx, cy) points along `degrees` (clockwise from straight
// up): the pixel 25 units out along that direction must be white, those 30
// degrees to either side the dark body. Empty when it does, else what is wrong.
std::string checkPointer(const host::Image& shot, double scale, double cx, double cy, double degrees,
                         const std::string& what);

// Windows directly under the root window of the display.
size_t topLevelWindowCount();
// File descriptors this process holds open.
size_t openFileCount();

// Reads a PNG file as 8-bit RGBA; empty on failure.
host::Image readPng(const std::string& path);

// All parameter events that were reported, as text, for failure messages.
std::string describe(const std::vector<host::ParamEvent>& events);

} // namespace quolva::test
