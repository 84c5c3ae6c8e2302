// wine_editor: opens a Windows module's editor inside a Win32 window of ours,
// the way a Windows DAW embeds it, for the editor test under Wine
// (wine_editor_test.py drives it from the X side).
//
//   wine_editor MODULE.clap WORKDIR
//
// The plug-in is active and processing: every ~10 ms one block of quiet audio
// goes through it with an output event list, so the framework applies the
// editor's changes and reports them. The program talks to the test through
// files in WORKDIR:
//   ready       written once the editor has been shown and running for a while:
//               "<width> <height> <window title>"
//   events.txt  one line "<param id> <value>" per parameter value the plug-in
//               reported, flushed as they arrive
//   quit        created by the test: close the editor and exit
// Exit status 0 after a clean close with no host problems; 1 on a failure,
// with the reason on stderr; 3 when no quit came within the time limit.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "clap/ext/gui.h"
#include "quolva/instance.h"
#include "quolva/json.h"
#include "quolva/module.h"

using namespace quolva::host;

namespace {

constexpr auto kReadyAfter = std::chrono::milliseconds(1500);
constexpr auto kTimeLimit = std::chrono::seconds(120);
constexpr uint32_t kBlock = 256;

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---- the host side of clap.gui: requests are recorded, resizing is refused
// (both editors have a fixed size).
struct GuiRequests {
    unsigned resizeHints = 0, resize = 0, show = 0, hide = 0, closed = 0;
};
GuiRequests gRequests;

void CLAP_ABI hostResizeHintsChanged(const clap_host_t*) { ++gRequests.resizeHints; }
bool CLAP_ABI hostRequestResize(const clap_host_t*, uint32_t, uint32_t)
{
    ++gRequests.resize;
    return false;
}
bool CLAP_ABI hostRequestShow(const clap_host_t*)
{
    ++gRequests.show;
    return true;
}
bool CLAP_ABI hostRequestHide(const clap_host_t*)
{
    ++gRequests.hide;
    return true;
}
void CLAP_ABI hostClosed(const clap_host_t*, bool) { ++gRequests.closed; }

const clap_host_gui_t kHostGui = {hostResizeHintsChanged, hostRequestResize, hostRequestShow,
                                  hostRequestHide, hostClosed};

// ---- our window

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_CLOSE)
        return 0; // only the test closes it, through the quit file
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND makeParent(const std::wstring& title, uint32_t width, uint32_t height)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = L"QuolvaWineEditorHost";
    if (!RegisterClassW(&wc))
        throw Failure("RegisterClass failed");
    // A popup window at the screen's corner: no frame, so screen and editor
    // coordinates agree (there is no window manager under Xvfb either).
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_POPUP | WS_CLIPCHILDREN, 0, 0,
                                int(width), int(height), nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd)
        throw Failure("CreateWindowEx failed");
    return hwnd;
}

bool pumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT)
            return false;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void writeText(const std::string& path, const std::string& text)
{
    // Written under another name first, so the test never reads half a file.
    const std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::trunc);
        f << text;
        if (!f)
            throw Failure("cannot write " + tmp);
    }
    if (!MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        throw Failure("cannot rename " + tmp);
}

std::wstring widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end()); // plug-in names are ASCII
}

int run(const std::string& path, const std::string& work)
{
    std::string error;
    auto module = Module::load(path, error);
    if (!module)
        throw Failure("cannot load " + path + ": " + error);
    const std::vector<std::string> ids = module->pluginIds();
    if (ids.size() != 1)
        throw Failure(path + " offers " + std::to_string(ids.size()) + " plug-ins");
    InstanceOptions options;
    options.echoLogs = false;
    auto inst = Instance::create(*module, ids.front(), error, options);
    if (!inst)
        throw Failure(error);
    inst->addHostExtension(CLAP_EXT_GUI, &kHostGui);
    if (!inst->init() || !inst->activate(48000.0, 32, kBlock) || !inst->startProcessing())
        throw Failure("cannot start the plug-in: " + inst->lastError());

    const auto* gui = inst->pluginExtension<clap_plugin_gui_t>(CLAP_EXT_GUI);
    if (!gui)
        throw Failure("the plug-in offers no clap.gui");
    if (!gui->is_api_supported(inst->plugin(), CLAP_WINDOW_API_WIN32, false))
        throw Failure("the editor does not support embedding in a Win32 window");
    if (!gui->create(inst->plugin(), CLAP_WINDOW_API_WIN32, false))
        throw Failure("gui.create failed");
    gui->set_scale(inst->plugin(), 1.0);
    uint32_t width = 0, height = 0;
    if (!gui->get_size(inst->plugin(), &width, &height) || width == 0 || height == 0)
        throw Failure("gui.get_size failed");

    const std::string title = "quolva-wine-editor " + inst->name();
    HWND parent = makeParent(widen(title), width, height);
    clap_window_t window = {};
    window.api = CLAP_WINDOW_API_WIN32;
    window.win32 = parent;
    if (!gui->set_parent(inst->plugin(), &window))
        throw Failure("gui.set_parent failed");
    ShowWindow(parent, SW_SHOWNORMAL);
    if (!gui->show(inst->plugin()))
        throw Failure("gui.show failed");
    std::printf("%s: editor %ux%u in window \"%s\"\n", ids.front().c_str(), unsigned(width), unsigned(height),
                title.c_str());
    std::fflush(stdout);

    std::vector<float> quiet(kBlock, 0.0f);
    std::vector<float> outL(kBlock), outR(kBlock);
    const float* in[2] = {quiet.data(), quiet.data()};
    float* out[2] = {outL.data(), outR.data()};
    std::ofstream events(work + "\\events.txt", std::ios::trunc);
    const auto start = std::chrono::steady_clock::now();
    bool ready = false;
    size_t reported = 0;
    for (;;) {
        if (!pumpMessages())
            break;
        inst->idle();
        std::vector<ParamEvent> got;
        inst->process(in, out, kBlock, std::vector<ParamEvent>{}, &got);
        for (const ParamEvent& e : got) {
            events << e.id << ' ' << jsonNumber(e.value) << '\n';
            ++reported;
        }
        events.flush();

        const auto now = std::chrono::steady_clock::now();
        if (!ready && now - start >= kReadyAfter) {
            writeText(work + "\\ready", std::to_string(width) + " " + std::to_string(height) + " " + title + "\n");
            ready = true;
        }
        if (exists(work + "\\quit"))
            break;
        if (now - start > kTimeLimit) {
            std::fprintf(stderr, "wine_editor: no quit within %lld s\n",
                         static_cast<long long>(kTimeLimit.count()));
            return 3;
        }
        Sleep(10);
    }

    gui->hide(inst->plugin());
    gui->destroy(inst->plugin());
    DestroyWindow(parent);
    inst->stopProcessing();
    inst->deactivate();

    std::printf("reported %zu parameter values; gui requests: resize %u, show %u, hide %u, closed %u\n",
                reported, gRequests.resize, gRequests.show, gRequests.hide, gRequests.closed);
    const std::vector<std::string> problems = inst->problems();
    for (const std::string& p : problems)
        std::fprintf(stderr, "host problem: %s\n", p.c_str());
    return problems.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: wine_editor MODULE.clap WORKDIR\n");
        return 2;
    }
    try {
        return run(argv[1], argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wine_editor: %s\n", e.what());
        return 1;
    }
}
