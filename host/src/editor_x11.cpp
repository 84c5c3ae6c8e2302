#include "quolva/editor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "clap/ext/gui.h"

#include "quolva/instance.h"

namespace quolva::host {

struct Editor::Impl {
    Instance& instance;
    const clap_plugin_gui_t* gui = nullptr;

    Display* display = nullptr;
    Window window = 0;
    Atom wmDelete = 0;
    bool created = false; // gui->create succeeded and destroy is still due
    bool open = false;
    std::atomic<bool> closeRequested{false};
    uint32_t width = 0;
    uint32_t height = 0;

    mutable std::mutex callsMutex; // the gui callbacks may come from any thread
    GuiCalls calls;

    std::vector<ParamEvent> pending; // host changes for the next block
    AudioSource source;
    uint32_t blockFrames = 256;
    std::vector<float> in[2];
    std::vector<float> out[2];

    std::string lastError;

    explicit Impl(Instance& inst)
        : instance(inst)
    {
    }

    bool fail(const std::string& why)
    {
        lastError = why;
        return false;
    }

    void releaseWindow()
    {
        if (display) {
            if (window)
                XDestroyWindow(display, window);
            XCloseDisplay(display);
        }
        display = nullptr;
        window = 0;
    }

    void handleXEvents()
    {
        while (XPending(display) > 0) {
            XEvent ev;
            XNextEvent(display, &ev);
            if (ev.type == ClientMessage && ev.xclient.window == window
                && static_cast<Atom>(ev.xclient.data.l[0]) == wmDelete)
                closeRequested = true;
            else if (ev.type == ConfigureNotify && ev.xconfigure.window == window) {
                width = uint32_t(ev.xconfigure.width);
                height = uint32_t(ev.xconfigure.height);
            }
        }
    }

    std::vector<ParamEvent> processBlock()
    {
        std::vector<ParamEvent> reported;
        if (!instance.isProcessing()) {
            if (!pending.empty() && !instance.flush(pending, &reported))
                instance.reportProblem("editor: could not flush host parameter changes: " + instance.lastError());
            pending.clear();
            return reported;
        }
        const uint32_t frames = std::max<uint32_t>(1, std::min(blockFrames, instance.maxFrames()));
        for (int c = 0; c < 2; ++c) {
            in[c].assign(frames, 0.0f);
            out[c].assign(frames, 0.0f);
        }
        if (source)
            source(in[0].data(), in[1].data(), frames);
        const float* inPtrs[2] = {in[0].data(), in[1].data()};
        float* outPtrs[2] = {out[0].data(), out[1].data()};
        instance.process(inPtrs, outPtrs, frames, pending, &reported);
        pending.clear();
        return reported;
    }

    template <typename F> void record(F&& fn)
    {
        std::lock_guard<std::mutex> lock(callsMutex);
        fn(calls);
    }
};

namespace {

// Editors by instance, so the C callbacks find theirs from the host pointer.
std::mutex gRegistryMutex;
std::map<const Instance*, Editor::Impl*> gRegistry;

Editor::Impl* editorOf(const clap_host_t* host)
{
    const Instance* inst = Instance::fromHost(host);
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    auto it = gRegistry.find(inst);
    return it == gRegistry.end() ? nullptr : it->second;
}

void CLAP_ABI guiResizeHintsChanged(const clap_host_t* host)
{
    if (Editor::Impl* e = editorOf(host))
        e->record([](GuiCalls& c) { ++c.resizeHintsChanged; });
}

bool CLAP_ABI guiRequestResize(const clap_host_t* host, uint32_t width, uint32_t height)
{
    Editor::Impl* e = editorOf(host);
    if (!e)
        return false;
    e->record([&](GuiCalls& c) {
        ++c.requestResize;
        c.requestedWidth = width;
        c.requestedHeight = height;
    });
    // Our window follows the editor; other threads only get an acknowledgement.
    if (!e->instance.isMainThread() || !e->display || !e->window || width == 0 || height == 0)
        return false;
    XResizeWindow(e->display, e->window, width, height);
    XFlush(e->display);
    e->width = width;
    e->height = height;
    return true;
}

bool CLAP_ABI guiRequestShow(const clap_host_t* host)
{
    if (Editor::Impl* e = editorOf(host))
        e->record([](GuiCalls& c) { ++c.requestShow; });
    return false; // the window is shown for as long as the editor is open
}

bool CLAP_ABI guiRequestHide(const clap_host_t* host)
{
    if (Editor::Impl* e = editorOf(host))
        e->record([](GuiCalls& c) { ++c.requestHide; });
    return false;
}

void CLAP_ABI guiClosed(const clap_host_t* host, bool)
{
    if (Editor::Impl* e = editorOf(host)) {
        e->record([](GuiCalls& c) { ++c.closed; });
        e->closeRequested = true;
    }
}

const clap_host_gui_t kHostGui = {guiResizeHintsChanged, guiRequestResize, guiRequestShow, guiRequestHide,
                                  guiClosed};

// Scales a colour channel taken out of a pixel by its mask to 8 bits.
uint8_t channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;
    int shift = 0;
    while (!((mask >> shift) & 1ul))
        ++shift;
    const unsigned long max = mask >> shift;
    const unsigned long v = (pixel & mask) >> shift;
    return uint8_t((v * 255ul + max / 2) / max);
}

} // namespace

Editor::Editor(Instance& instance)
    : d(std::make_unique<Impl>(instance))
{
    {
        std::lock_guard<std::mutex> lock(gRegistryMutex);
        gRegistry[&instance] = d.get();
    }
    instance.addHostExtension(CLAP_EXT_GUI, &kHostGui);
}

Editor::~Editor()
{
    close();
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    gRegistry.erase(&d->instance);
}

bool Editor::open(double scale)
{
    d->lastError.clear();
    if (d->open)
        return d->fail("the editor is already open");
    const clap_plugin_t* plugin = d->instance.plugin();
    d->gui = d->instance.pluginExtension<clap_plugin_gui_t>(CLAP_EXT_GUI);
    if (!d->gui)
        return d->fail("the plug-in offers no clap.gui");
    if (!d->gui->is_api_supported(plugin, CLAP_WINDOW_API_X11, false))
        return d->fail("the plug-in's editor cannot be embedded into an X11 window");
    // The framework's editor crashes without a display, so look first.
    d->display = XOpenDisplay(nullptr);
    if (!d->display)
        return d->fail("cannot open the X display (is DISPLAY set?)");

    d->closeRequested = false;
    if (!d->gui->create(plugin, CLAP_WINDOW_API_X11, false)) {
        d->releaseWindow();
        return d->fail("the plug-in refused to create its editor");
    }
    d->created = true;
    if (!d->gui->set_scale(plugin, scale))
        d->instance.reportProblem("editor: the plug-in refused the scale factor");

    uint32_t w = 0, h = 0;
    if (!d->gui->get_size(plugin, &w, &h) || w == 0 || h == 0) {
        close();
        return d->fail("the plug-in gave no editor size");
    }

    const int screen = DefaultScreen(d->display);
    d->window = XCreateSimpleWindow(d->display, RootWindow(d->display, screen), 0, 0, w, h, 0,
                                    BlackPixel(d->display, screen), BlackPixel(d->display, screen));
    const std::string title = "quolva-host: " + d->instance.name();
    XStoreName(d->display, d->window, title.c_str());
    XSelectInput(d->display, d->window, StructureNotifyMask);
    d->wmDelete = XInternAtom(d->display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(d->display, d->window, &d->wmDelete, 1);
    XMapWindow(d->display, d->window);
    XSync(d->display, False);
    d->width = w;
    d->height = h;

    clap_window_t parent;
    parent.api = CLAP_WINDOW_API_X11;
    parent.x11 = d->window;
    if (!d->gui->set_parent(plugin, &parent)) {
        close();
        return d->fail("the plug-in refused our window as its parent");
    }
    // The framework knows its real size (scaled) only once the editor exists.
    if (d->gui->get_size(plugin, &w, &h) && w > 0 && h > 0 && (w != d->width || h != d->height)) {
        XResizeWindow(d->display, d->window, w, h);
        d->width = w;
        d->height = h;
    }
    if (!d->gui->show(plugin)) {
        close();
        return d->fail("the plug-in refused to show its editor");
    }
    XSync(d->display, False);
    d->open = true;
    return true;
}

void Editor::close()
{
    if (d->created) {
        const clap_plugin_t* plugin = d->instance.plugin();
        if (d->open)
            d->gui->hide(plugin);
        d->gui->destroy(plugin);
        d->created = false;
    }
    d->open = false;
    d->pending.clear();
    d->releaseWindow();
}

bool Editor::isOpen() const { return d->open; }
bool Editor::closeRequested() const { return d->closeRequested; }
uint32_t Editor::width() const { return d->width; }
uint32_t Editor::height() const { return d->height; }
unsigned long Editor::window() const { return d->window; }

unsigned long Editor::editorWindow() const
{
    if (!d->open)
        return 0;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d->display, d->window, &root, &parent, &children, &count))
        return 0;
    const Window topmost = count > 0 ? children[count - 1] : 0;
    if (children)
        XFree(children);
    return topmost;
}

void Editor::setParam(uint32_t id, double value) { d->pending.push_back({id, value, 0}); }
void Editor::setAudioSource(AudioSource source) { d->source = std::move(source); }
void Editor::setBlockFrames(uint32_t frames) { d->blockFrames = std::max<uint32_t>(1, frames); }

std::vector<ParamEvent> Editor::tick()
{
    if (!d->open)
        return {};
    d->handleXEvents();
    d->instance.idle();
    std::vector<ParamEvent> reported = d->processBlock();
    XFlush(d->display);
    return reported;
}

std::vector<ParamEvent> Editor::pump(int ms)
{
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(16);
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    std::vector<ParamEvent> all;
    for (auto next = Clock::now(); d->open && !d->closeRequested;) {
        const std::vector<ParamEvent> got = tick();
        all.insert(all.end(), got.begin(), got.end());
        next += period;
        if (next >= end)
            break;
        std::this_thread::sleep_until(next);
    }
    return all;
}

Image Editor::screenshot()
{
    Image shot;
    if (!d->open)
        return shot;
    XSync(d->display, False);
    Window target = editorWindow();
    if (!target)
        target = d->window;
    XWindowAttributes attrs;
    if (!XGetWindowAttributes(d->display, target, &attrs) || attrs.map_state != IsViewable || attrs.width <= 0
        || attrs.height <= 0)
        return shot;
    XImage* img = XGetImage(d->display, target, 0, 0, unsigned(attrs.width), unsigned(attrs.height), AllPlanes,
                            ZPixmap);
    if (!img)
        return shot;
    shot.width = uint32_t(attrs.width);
    shot.height = uint32_t(attrs.height);
    shot.rgba.resize(size_t(shot.width) * shot.height * 4);
    const Visual* v = attrs.visual;
    uint8_t* p = shot.rgba.data();
    for (int y = 0; y < attrs.height; ++y)
        for (int x = 0; x < attrs.width; ++x, p += 4) {
            const unsigned long pixel = XGetPixel(img, x, y);
            p[0] = channel(pixel, v->red_mask);
            p[1] = channel(pixel, v->green_mask);
            p[2] = channel(pixel, v->blue_mask);
            p[3] = 255; // what is on screen is opaque
        }
    XDestroyImage(img);
    return shot;
}

GuiCalls Editor::guiCalls() const
{
    std::lock_guard<std::mutex> lock(d->callsMutex);
    return d->calls;
}

const std::string& Editor::lastError() const { return d->lastError; }

} // namespace quolva::host
