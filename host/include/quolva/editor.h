#pragma once

// The plug-in's editor, embedded into an X11 window of ours the way a DAW embeds
// it: the host side of `clap.gui` (timer support comes with the Instance), the
// plug-in's `clap.gui` calls in the usual order, and an idle loop that services
// the plug-in's timers, processes audio blocks (so the framework applies the
// editor's changes and reports them as output parameter events) and hands host
// parameter changes to the plug-in. Screenshots read the editor's window back.
//
// Linux/X11 only. Everything runs on the Instance's main thread; processing
// happens on the Instance's audio thread as usual.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quolva/events.h"
#include "quolva/image.h"

namespace quolva::host {

class Instance;

// What the plug-in asked of the host through `clap.gui`.
struct GuiCalls {
    unsigned resizeHintsChanged = 0;
    unsigned requestResize = 0;
    uint32_t requestedWidth = 0; // of the last request_resize
    uint32_t requestedHeight = 0;
    unsigned requestShow = 0;
    unsigned requestHide = 0;
    unsigned closed = 0;
};

class Editor {
public:
    // Fills `left` and `right` with `frames` input samples for the next block.
    using AudioSource = std::function<void(float* left, float* right, uint32_t frames)>;

    // Offers the host `clap.gui` to the instance's plug-in (the plug-in looks it up
    // when its editor is created). One Editor per Instance; the Instance must
    // outlive it.
    explicit Editor(Instance& instance);
    // Closes the editor if it is open.
    ~Editor();

    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

    // Opens the editor: gui create (X11, embedded), set_scale, get_size, a window
    // of that size, set_parent, show. False with a reason in lastError(); nothing
    // stays open then. Fails cleanly without an X display.
    bool open(double scale = 1.0);
    // hide, destroy, then our window and display connection.
    void close();
    bool isOpen() const;
    // True once the window was closed by the user or the plug-in reported its
    // editor closed; the caller should close().
    bool closeRequested() const;

    // Size of our window in pixels, which is the editor's size.
    uint32_t width() const;
    uint32_t height() const;
    // The X11 window we made (the editor's parent), and the plug-in's window inside
    // it (0 when it has none).
    unsigned long window() const;
    unsigned long editorWindow() const;

    // Sends a parameter change with the next audio block, as automation would
    // (or through params.flush when the instance is not processing).
    void setParam(uint32_t id, double value);
    // Input audio of the blocks; silence when unset.
    void setAudioSource(AudioSource source);
    // Frames per block (at most the instance's maxFrames); 256 by default.
    void setBlockFrames(uint32_t frames);

    // One round of the host's idle work: our window's X events, the plug-in's
    // main-thread callback and timers, then one audio block when the instance is
    // processing. Returns the parameter values the plug-in reported in that block.
    std::vector<ParamEvent> tick();
    // Calls tick() about every 16 ms for `ms` milliseconds (stops early when a close
    // is requested); returns all reported parameter values in order.
    std::vector<ParamEvent> pump(int ms);

    // The editor's window as it is on screen. Empty when the editor is not open
    // or its window is not viewable.
    Image screenshot();

    GuiCalls guiCalls() const;
    const std::string& lastError() const;

    struct Impl; // internal; public only so the C callbacks can reach it

private:
    std::unique_ptr<Impl> d;
};

} // namespace quolva::host
