#include "EditorFixture.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include <png.h>

#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace quolva::test {

// ---- the display

namespace {

// Holds one connection to the display for the whole test program: an X server
// resets when its last client disconnects, and connections attempted during that
// reset fail (an editor's would crash the plug-in). Its GLX query also keeps the
// GL driver loaded for the whole run: otherwise every editor loads and unloads
// it, and each unload strands the driver's own allocations, which the leak
// checker then reports. For the same reason the connection stays open until the
// process ends.
class DisplayHolder : public ::testing::Environment
{
public:
    void SetUp() override
    {
        fDisplay = XOpenDisplay(nullptr);
        if (fDisplay)
            glXQueryExtensionsString(fDisplay, DefaultScreen(fDisplay));
    }

private:
    Display* fDisplay = nullptr;
};

[[maybe_unused]] ::testing::Environment* const gDisplayHolder =
    ::testing::AddGlobalTestEnvironment(new DisplayHolder);

} // namespace

// ---- Pointer

Pointer::Pointer()
{
    Display* d = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (d && !XTestQueryExtension(d, &event, &error, &major, &minor))
    {
        XCloseDisplay(d);
        d = nullptr;
    }
    fDisplay = d;
}

Pointer::~Pointer()
{
    if (fDisplay)
        XCloseDisplay(static_cast<Display*>(fDisplay));
}

void Pointer::moveTo(unsigned long window, int x, int y)
{
    Display* d = static_cast<Display*>(fDisplay);
    const Window root = DefaultRootWindow(d);
    int rx = 0, ry = 0;
    Window child = 0;
    XTranslateCoordinates(d, window, root, x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(d, DefaultScreen(d), rx, ry, CurrentTime);
    XSync(d, False);
}

void Pointer::press(unsigned button)
{
    Display* d = static_cast<Display*>(fDisplay);
    XTestFakeButtonEvent(d, button, True, CurrentTime);
    XSync(d, False);
}

void Pointer::release(unsigned button)
{
    Display* d = static_cast<Display*>(fDisplay);
    XTestFakeButtonEvent(d, button, False, CurrentTime);
    XSync(d, False);
}

// ---- EditorSession

EditorSession::EditorSession(const std::string& path, double scale)
    : fScale(scale)
{
    std::string error;
    fModule = host::Module::load(path, error);
    if (!fModule)
    {
        ADD_FAILURE() << error;
        return;
    }
    const std::vector<std::string> ids = fModule->pluginIds();
    if (ids.size() != 1)
    {
        ADD_FAILURE() << path << " offers " << ids.size() << " plug-ins";
        return;
    }
    host::InstanceOptions options;
    options.echoLogs = false;
    fInstance = host::Instance::create(*fModule, ids.front(), error, options);
    if (!fInstance)
    {
        ADD_FAILURE() << error;
        return;
    }
    fEditor = std::make_unique<host::Editor>(*fInstance);
    if (!fInstance->init() || !fInstance->activate(48000.0, 32, 256) || !fInstance->startProcessing())
    {
        ADD_FAILURE() << "cannot start the plug-in: " << fInstance->lastError();
        return;
    }
    if (!fEditor->open(scale))
        ADD_FAILURE() << "cannot open the editor: " << fEditor->lastError();
}

EditorSession::~EditorSession()
{
    // The editor goes before the instance, the instance before its module.
    fEditor.reset();
    fInstance.reset();
    fModule.reset();
}

void EditorSession::tick()
{
    const std::vector<host::ParamEvent> got = fEditor->tick();
    fReported.insert(fReported.end(), got.begin(), got.end());
}

void EditorSession::setValues(const std::vector<std::pair<uint32_t, double>>& values)
{
    for (const auto& [id, value] : values)
        fEditor->setParam(id, value);
    tick(); // the block that applies them
    tick(); // the timer round that reports them to the editor
}

bool EditorSession::tickUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string EditorSession::waitForPicture(const std::function<std::string(const host::Image&)>& check,
                                          int timeoutMs)
{
    std::string complaint = "no screenshot";
    tickUntil(
        [&] {
            const host::Image shot = fEditor->screenshot();
            complaint = shot.empty() ? "no screenshot" : check(shot);
            return complaint.empty();
        },
        timeoutMs);
    return complaint;
}

// ---- pointer scripts

Script drag(double x, double y, const std::vector<std::pair<double, double>>& rightUp)
{
    Script s = moveTo(x, y) + press(1);
    for (const auto& [right, up] : rightUp)
        s = s + moveTo(x + right, y - up);
    return s + release(1);
}

std::vector<host::ParamEvent> play(EditorSession& session, Pointer& pointer, const Script& script,
                                   const Script& sentinel, const ExpectedEvent& sentinelEvent,
                                   size_t expectedBeforeSentinel)
{
    const unsigned long window = session.editor().editorWindow();
    const auto pixel = [&](double v) { return static_cast<int>(std::lround(v * session.scale())); };
    for (const PointerAction& a : script + sentinel)
    {
        switch (a.kind)
        {
        case PointerAction::Move: pointer.moveTo(window, pixel(a.x), pixel(a.y)); break;
        case PointerAction::Press: pointer.press(a.button); break;
        case PointerAction::Release: pointer.release(a.button); break;
        }
    }
    std::vector<host::ParamEvent>& got = session.reported();
    got.clear();
    const auto isSentinel = [&](const host::ParamEvent& e) {
        return e.id == sentinelEvent.id && std::fabs(e.value - sentinelEvent.value) <= 1e-6;
    };
    session.tickUntil([&] {
        return got.size() > expectedBeforeSentinel && std::any_of(got.begin(), got.end(), isSentinel);
    });
    // Events of one block arrive in time order, and the framework reports a
    // trigger parameter's new value at the end of the block, possibly after the
    // sentinel's change. So the sentinel's event is taken out wherever it is.
    std::vector<host::ParamEvent> out = got;
    got.clear();
    const auto last = std::find_if(out.rbegin(), out.rend(), isSentinel);
    if (last != out.rend())
        out.erase(std::next(last).base());
    return out;
}

::testing::AssertionResult sameEvents(const std::vector<ExpectedEvent>& expected,
                                      const std::vector<host::ParamEvent>& got)
{
    bool same = expected.size() == got.size();
    for (size_t i = 0; same && i < expected.size(); ++i)
        same = expected[i].id == got[i].id && std::fabs(expected[i].value - got[i].value) <= 1e-6;
    if (same)
        return ::testing::AssertionSuccess();
    std::vector<host::ParamEvent> want;
    for (const ExpectedEvent& e : expected)
        want.push_back({ e.id, e.value, 0 });
    return ::testing::AssertionFailure() << "expected " << describe(want) << "\n     got " << describe(got);
}

// ---- probes

std::string checkPointer(const host::Image& shot, double scale, double cx, double cy, double degrees,
                         const std::string& what)
{
    const double pi = 3.14159265358979323846;
    std::string wrong;
    for (const double offset : { 0.0, -30.0, 30.0 })
    {
        const double a = (degrees + offset) * pi / 180.0;
        const double x = cx + 25.0 * std::sin(a);
        const double y = cy - 25.0 * std::cos(a);
        const host::Rgba p = designPixel(shot, scale, x, y);
        const bool white = isWhite(p);
        const bool dark = luminance(p) < 90;
        if (offset == 0.0 ? !white : !dark)
        {
            char buf[200];
            std::snprintf(buf, sizeof buf, "%s: at %+.0f degrees (%.1f, %.1f) the pixel is %s, wanted %s; ",
                          what.c_str(), degrees + offset, x, y, describe(p).c_str(),
                          offset == 0.0 ? "the white pointer" : "the dark body");
            wrong += buf;
        }
    }
    return wrong;
}

size_t topLevelWindowCount()
{
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return 0;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    if (children)
        XFree(children);
    XCloseDisplay(d);
    return count;
}

size_t openFileCount()
{
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    {
        (void)entry;
        ++n;
    }
    return n;
}

host::Image readPng(const std::string& path)
{
    host::Image out;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return out;
    image.format = PNG_FORMAT_RGBA;
    out.width = image.width;
    out.height = image.height;
    out.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr))
    {
        png_image_free(&image);
        return host::Image();
    }
    return out;
}

std::string describe(const std::vector<host::ParamEvent>& events)
{
    std::string s;
    for (const host::ParamEvent& e : events)
    {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s(%u, %.9g)", s.empty() ? "" : " ", unsigned(e.id), e.value);
        s += buf;
    }
    return s.empty() ? "none" : s;
}

} // namespace quolva::test
