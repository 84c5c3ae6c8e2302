// The Zivaz editor in our host under a virtual display: what it draws for the
// values the host sets, and what real pointer input sends to the host.
#include "EditorFixture.hpp"

#include <string>
#include <vector>

namespace {

using quolva::host::Image;
using quolva::host::Rgba;
using namespace quolva::test;

enum : uint32_t { kDownsample = 0, kNoiseBias, kInputNoise, kOutputNoise, kDistort, kPostClip };

using Values = std::vector<std::pair<uint32_t, double>>;

const Values kDefaults = { { kDownsample, 1 }, { kNoiseBias, 0.5 }, { kInputNoise, 0 },
                           { kOutputNoise, 0 }, { kDistort, 0 },    { kPostClip, 0 } };

Values withDefaults(const Values& changes)
{
    Values all = kDefaults;
    for (const auto& [id, v] : changes)
        all[id].second = v;
    return all;
}

// ---- what the screenshot shows

// Sixteen characters, '1' for a lit (red) pill, '0' for an unlit (green) one, '?'
// otherwise. Each pill is probed near both ends and in the middle, so a lit strip
// cut a few units off shows as '?'.
std::string pills(const Image& shot, double s)
{
    std::string out;
    for (int k = 0; k < 16; ++k)
    {
        const double x0 = 46 + 6 + k * (665.0 - 6.0) / 15.0; // the pill spans x0 to x0 + 41
        int lit = 0, unlit = 0;
        for (const double dx : { 5.5, 20.5, 35.5 })
        {
            const Rgba p = designPixel(shot, s, x0 + dx, 178.5);
            lit += p.r >= 150 && p.r >= p.g + 60 ? 1 : 0;
            unlit += p.g > p.r + 15 && p.g >= 50 ? 1 : 0;
        }
        out += lit == 3 ? '1' : unlit == 3 ? '0' : '?';
    }
    return out;
}

std::string litPills(int count) { return std::string(size_t(count), '1') + std::string(size_t(16 - count), '0'); }

// The title pictures and the background, read from the artwork the module embeds.
struct TitleArt
{
    Image background;
    Image titles[6];
    bool ok = false;
};

const TitleArt& titleArt()
{
    static const TitleArt art = [] {
        TitleArt a;
        const std::string dir = std::string(QUOLVA_SOURCE_DIR) + "/plugins/crush/artwork/";
        a.background = readPng(dir + "background.png");
        a.ok = a.background.width == 800 && a.background.height == 600;
        for (int i = 0; i < 6; ++i)
        {
            a.titles[i] = readPng(dir + "title" + std::to_string(i) + ".png");
            a.ok = a.ok && a.titles[i].width == 313 && a.titles[i].height == 38;
        }
        return a;
    }();
    return art;
}

// Mean difference per channel between the title area of the screenshot and title
// picture i laid over the background, both sampled at the pixel centres.
double titleDistance(const Image& shot, double s, int i)
{
    const TitleArt& art = titleArt();
    double sum = 0;
    int n = 0;
    for (int y = static_cast<int>(std::ceil(43 * s)) + 1; y < static_cast<int>(81 * s) - 1; ++y)
        for (int x = static_cast<int>(std::ceil(243 * s)) + 1; x < static_cast<int>(556 * s) - 1; ++x)
        {
            const double dx = (x + 0.5) / s, dy = (y + 0.5) / s;
            const Rgba t = art.titles[i].at(static_cast<int64_t>(dx - 243), static_cast<int64_t>(dy - 43));
            const Rgba b = art.background.at(static_cast<int64_t>(dx), static_cast<int64_t>(dy));
            const Rgba p = shot.at(x, y);
            const double a = t.a / 255.0;
            sum += std::fabs(t.r * a + b.r * (1 - a) - p.r) + std::fabs(t.g * a + b.g * (1 - a) - p.g)
                 + std::fabs(t.b * a + b.b * (1 - a) - p.b);
            n += 3;
        }
    return sum / n;
}

// The title picture the screenshot shows: the nearest of the six, -1 when none
// comes close (a title drawn at the wrong place or size).
int shownTitle(const Image& shot, double s)
{
    int best = 0;
    double bestDistance = 1e9;
    for (int i = 0; i < 6; ++i)
    {
        const double d = titleDistance(shot, s, i);
        if (d < bestDistance)
        {
            bestDistance = d;
            best = i;
        }
    }
    return bestDistance <= 12.0 ? best : -1;
}

struct Knob { uint32_t id; double cx, cy; const char* name; };
const Knob kKnobs[5] = { { kNoiseBias, 240, 502, "Noise Bias" },
                         { kInputNoise, 318, 350, "Input Noise" },
                         { kOutputNoise, 477, 350, "Output Noise" },
                         { kDistort, 558, 502, "Distort" },
                         { kPostClip, 399, 502, "Post Clip" } };

// ---- drawing

struct DrawCase
{
    const char* name;
    Values values;
    int title;
    int lit;
    double degrees[5]; // Noise Bias, Input Noise, Output Noise, Distort, Post Clip
};

const DrawCase kDrawCases[] = {
    { "defaults", kDefaults, 0, 1, { 0, -90, -90, -90, -90 } },
    { "Downsample 6 keeps the clean title; knobs at 0, 1, 0.5, 0.25, 0.75",
      withDefaults({ { kDownsample, 6 }, { kNoiseBias, 0 }, { kInputNoise, 1 }, { kOutputNoise, 0.5 },
                     { kDistort, 0.25 }, { kPostClip, 0.75 } }),
      0, 6, { -90, 90, 0, -45, 45 } },
    { "Downsample 7 shows title 1", withDefaults({ { kDownsample, 7 }, { kNoiseBias, 1 } }), 1, 7,
      { 90, -90, -90, -90, -90 } },
    { "Downsample 8 shows title 1", withDefaults({ { kDownsample, 8 } }), 1, 8, { 0, -90, -90, -90, -90 } },
    { "Downsample 9 shows title 2", withDefaults({ { kDownsample, 9 }, { kDistort, 1 } }), 2, 9,
      { 0, -90, -90, 90, -90 } },
    { "Downsample 12 shows title 3", withDefaults({ { kDownsample, 12 }, { kPostClip, 1 } }), 3, 12,
      { 0, -90, -90, -90, 90 } },
    { "Downsample 13 shows title 4", withDefaults({ { kDownsample, 13 }, { kOutputNoise, 1 } }), 4, 13,
      { 0, -90, 90, -90, -90 } },
    { "Downsample 16 shows title 5 and lights every pill", withDefaults({ { kDownsample, 16 } }), 5, 16,
      { 0, -90, -90, -90, -90 } },
};

std::string compare(const Image& shot, double s, const DrawCase& c)
{
    std::string wrong;
    const std::string shown = pills(shot, s);
    if (shown != litPills(c.lit))
        wrong += "pills " + shown + " instead of " + litPills(c.lit) + "; ";
    const int title = shownTitle(shot, s);
    if (title != c.title)
        wrong += "title " + std::to_string(title) + " instead of " + std::to_string(c.title) + "; ";
    for (int i = 0; i < 5; ++i)
        wrong += checkPointer(shot, s, kKnobs[i].cx, kKnobs[i].cy, c.degrees[i], kKnobs[i].name);
    return wrong;
}

class ZivazDrawing : public ::testing::TestWithParam<double> {};

TEST_P(ZivazDrawing, ShowsWhatTheHostSets)
{
    ASSERT_TRUE(titleArt().ok) << "cannot read the artwork under " << QUOLVA_SOURCE_DIR;
    const double s = GetParam();
    EditorSession session(ZIVAZ_CLAP_PATH, s);
    ASSERT_TRUE(session.isOpen());
    EXPECT_EQ(session.editor().width(), static_cast<uint32_t>(800 * s));
    EXPECT_EQ(session.editor().height(), static_cast<uint32_t>(600 * s));

    for (const DrawCase& c : kDrawCases)
    {
        SCOPED_TRACE(c.name);
        session.setValues(c.values);
        EXPECT_EQ(session.waitForPicture([&](const Image& shot) { return compare(shot, s, c); }), "");
    }
    EXPECT_TRUE(session.instance().problems().empty()) << session.instance().problems().front();
}

// The background covers the whole window, up to its last row and column (the
// host's window behind it is black).
TEST_P(ZivazDrawing, BackgroundFillsTheWindow)
{
    const double s = GetParam();
    EditorSession session(ZIVAZ_CLAP_PATH, s);
    ASSERT_TRUE(session.isOpen());
    session.setValues(kDefaults);
    ASSERT_EQ(session.waitForPicture([&](const Image& shot) { return compare(shot, s, kDrawCases[0]); }), "");
    const Image shot = session.screenshot();
    ASSERT_EQ(shot.width, static_cast<uint32_t>(800 * s));
    ASSERT_EQ(shot.height, static_cast<uint32_t>(600 * s));
    int black = 0;
    const auto count = [&](int64_t x, int64_t y) { black += luminance(shot.at(x, y)) < 6 ? 1 : 0; };
    for (int64_t x = 0; x < shot.width; ++x)
    {
        count(x, 0);
        count(x, shot.height - 1);
    }
    for (int64_t y = 0; y < shot.height; ++y)
    {
        count(0, y);
        count(shot.width - 1, y);
    }
    EXPECT_EQ(black, 0) << "black pixels on the window's border";
}

INSTANTIATE_TEST_SUITE_P(Scales, ZivazDrawing, ::testing::Values(1.0, 1.5, 2.0),
                         [](const ::testing::TestParamInfo<double>& info) {
                             return "x" + std::to_string(static_cast<int>(info.param * 10));
                         });

// ---- input

constexpr double kRowY = 170;
constexpr double kOutsideX = 850, kOutsideY = 650;
const double k20 = 20.0 / 140.0, k30 = 30.0 / 140.0;

struct InputCase
{
    const char* name;
    Values start; // changes from the defaults
    Script script;
    std::vector<ExpectedEvent> expected;
};

const InputCase kInputCases[] = {
    { "row columns and their boundaries", {},
      click(50, kRowY) + click(400, kRowY) + click(758, 197) + click(90, kRowY) + click(91, kRowY) + click(46, 160),
      { { kDownsample, 1 }, { kDownsample, 8 }, { kDownsample, 16 }, { kDownsample, 1 }, { kDownsample, 2 },
        { kDownsample, 1 } } },
    { "just outside the row and on the numbers under it nothing happens", {},
      click(45, kRowY) + click(759, kRowY) + click(400, 159) + click(400, 198) + click(400, 205), {} },
    { "dragging along the row changes nothing further", {},
      moveTo(400, kRowY) + press() + moveTo(600, kRowY) + moveTo(700, 180) + release(), { { kDownsample, 8 } } },
    { "a press on the Distort square's corner starts a drag", {}, drag(523, 467, { { 0, 70 } }),
      { { kDistort, 0.5 } } },
    { "Noise Bias: the limits, and back to the start value", {},
      drag(240, 502, { { 0, 70 }, { 0, 100 }, { -70, 0 }, { 0, 0 } }),
      { { kNoiseBias, 1 }, { kNoiseBias, 1 }, { kNoiseBias, 0 }, { kNoiseBias, 0.5 } } },
    { "the larger displacement wins, a tie goes to the vertical", { { kPostClip, 0.5 } },
      drag(399, 502, { { 20, 14 }, { 20, 20 }, { 20, -20 }, { -30, 10 } }),
      { { kPostClip, 0.5 + k20 }, { kPostClip, 0.5 + k20 }, { kPostClip, 0.5 - k20 }, { kPostClip, 0.5 - k30 } } },
    { "Input Noise and Output Noise follow their own drags", {},
      drag(318, 350, { { 0, 35 } }) + drag(477, 350, { { 140, 0 } }),
      { { kInputNoise, 0.25 }, { kOutputNoise, 1 } } },
    { "a press on a panel caption starts nothing", {},
      moveTo(558, 436) + press() + moveTo(558, 366) + release(), {} },
    { "the right and middle buttons change nothing", {},
      click(400, kRowY, 3) + click(600, kRowY, 2) + moveTo(558, 502) + press(3) + moveTo(558, 432) + release(3)
          + moveTo(558, 502) + press(2) + moveTo(558, 400) + release(2),
      {} },
    { "a right-button release does not end a drag", {},
      moveTo(558, 502) + press(1) + press(3) + release(3) + moveTo(558, 432) + release(1), { { kDistort, 0.5 } } },
    { "a release outside the window ends the drag", {},
      moveTo(477, 350) + press() + moveTo(477, 280) + moveTo(kOutsideX, kOutsideY) + release() + moveTo(477, 300)
          + moveTo(477, 350),
      { { kOutputNoise, 0.5 }, { kOutputNoise, 1 } } },
};

class ZivazInput : public ::testing::TestWithParam<double> {};

TEST_P(ZivazInput, PointerChangesReachTheHost)
{
    const double s = GetParam();
    Pointer pointer;
    ASSERT_TRUE(pointer.ok()) << "no X display with the XTest extension";
    EditorSession session(ZIVAZ_CLAP_PATH, s);
    ASSERT_TRUE(session.isOpen());

    // The sentinel: the third column of the row always sends 3.
    const ExpectedEvent sentinel { kDownsample, 3 };
    for (const InputCase& c : kInputCases)
    {
        SCOPED_TRACE(c.name);
        session.setValues(withDefaults(c.start));
        session.reported().clear();
        const auto got = play(session, pointer, c.script, click(157, kRowY), sentinel, c.expected.size());
        EXPECT_TRUE(sameEvents(c.expected, got));
    }
    EXPECT_TRUE(session.instance().problems().empty()) << session.instance().problems().front();
}

INSTANTIATE_TEST_SUITE_P(Scales, ZivazInput, ::testing::Values(1.0, 2.0),
                         [](const ::testing::TestParamInfo<double>& info) {
                             return "x" + std::to_string(static_cast<int>(info.param * 10));
                         });

// ---- feedback

TEST(ZivazFeedback, HostAndEditorChangesAreDrawn)
{
    Pointer pointer;
    ASSERT_TRUE(pointer.ok());
    EditorSession session(ZIVAZ_CLAP_PATH, 1.0);
    ASSERT_TRUE(session.isOpen());
    ASSERT_EQ(session.waitForPicture([](const Image& shot) { return compare(shot, 1.0, kDrawCases[0]); }), "");

    const std::vector<std::pair<Values, DrawCase>> steps = {
        { { { kDownsample, 11 } }, { "Downsample 11", {}, 3, 11, { 0, -90, -90, -90, -90 } } },
        { { { kDistort, 0.5 }, { kNoiseBias, 0 } },
          { "Distort up, Noise Bias left", {}, 3, 11, { -90, -90, -90, 0, -90 } } },
        { { { kDownsample, 2 } }, { "Downsample 2", {}, 0, 2, { -90, -90, -90, 0, -90 } } },
    };
    for (const auto& [values, view] : steps)
    {
        SCOPED_TRACE(view.name);
        for (const auto& [id, v] : values)
            session.editor().setParam(id, v);
        EXPECT_EQ(session.waitForPicture([&](const Image& shot) { return compare(shot, 1.0, view); }), "");
    }

    // The editor's own changes: Downsample 15 from the row, Post Clip dragged to 1.
    const unsigned long window = session.editor().editorWindow();
    pointer.moveTo(window, 690, 170);
    pointer.press(1);
    pointer.release(1);
    pointer.moveTo(window, 399, 502);
    pointer.press(1);
    pointer.moveTo(window, 399, 362);
    pointer.release(1);
    const DrawCase mine { "editor changes", {}, 5, 15, { -90, -90, -90, 0, 90 } };
    EXPECT_EQ(session.waitForPicture([&](const Image& shot) { return compare(shot, 1.0, mine); }), "");
}

} // namespace
