// The Radeda editor in our host under a virtual display: what it draws for the
// values the host sets, and what real pointer input sends to the host.
#include "EditorFixture.hpp"

#include <string>
#include <vector>

namespace {

using quolva::host::Image;
using quolva::host::Rgba;
using namespace quolva::test;

enum : uint32_t {
    kActive = 0, kBpm, kBeats, kDivision, kRetrigger, kAttack, kHold, kRelease, kVarispeed, kSpeed
};

using Values = std::vector<std::pair<uint32_t, double>>;

const Values kDefaults = { { kActive, 0 }, { kBpm, 100 },    { kBeats, 2 }, { kDivision, 4 },   { kRetrigger, 0 },
                           { kAttack, 0 }, { kHold, 1 },     { kRelease, 1 }, { kVarispeed, 0 }, { kSpeed, 1 } };

// The defaults with some values replaced.
Values withDefaults(const Values& changes)
{
    Values all = kDefaults;
    for (const auto& [id, v] : changes)
        all[id].second = v;
    return all;
}

// ---- what the screenshot shows

// Probe points of the seven segments a to g inside a 36 x 52 digit picture.
struct Segment { char name; double x, y; };
const Segment kSegments[7] = { { 'a', 20, 6 },  { 'b', 27, 16 }, { 'c', 25, 35 }, { 'd', 15, 45 },
                               { 'e', 8, 35 },  { 'f', 10, 16 }, { 'g', 18, 26 } };
const char* const kDigitSegments[10] = { "abcdef", "bc",      "abdeg", "abcdg",   "bcfg",
                                         "acdfg",  "acdefg", "abc",   "abcdefg", "abcdfg" };

struct Readout { uint32_t id; double ax, ay; int digits; const char* name; };
const Readout kReadouts[3] = { { kBpm, 209, 192, 3, "BPM" },
                               { kBeats, 399, 192, 1, "Beats" },
                               { kDivision, 543, 192, 2, "Division" } };

// The digits a read-out shows, '?' for a segment pattern that is no digit.
std::string readDigits(const Image& shot, double s, const Readout& r)
{
    std::string shown;
    for (int i = 0; i < r.digits; ++i)
    {
        const double ox = r.ax - 18 + 30 * i, oy = r.ay - 26;
        std::string lit;
        for (const Segment& seg : kSegments)
        {
            const Rgba p = designPixel(shot, s, ox + seg.x + 0.5, oy + seg.y + 0.5);
            if (p.r >= 140 && p.g <= 90 && p.b <= 90)
                lit += seg.name;
        }
        char digit = '?';
        for (int d = 0; d < 10; ++d)
            if (lit == kDigitSegments[d])
                digit = static_cast<char>('0' + d);
        shown += digit;
    }
    return shown;
}

struct Switch { uint32_t id; double x, y, lampX; const char* name; };
const Switch kSwitches[3] = { { kActive, 215, 299, 221, "Active" },
                              { kRetrigger, 374, 299, 380, "Retrigger" },
                              { kVarispeed, 533, 299, 540, "Varispeed" } };

// "lit", "unlit" or what the lamp centre shows.
std::string lampState(const Image& shot, double s, const Switch& sw)
{
    const Rgba p = designPixel(shot, s, sw.lampX + 19.5, 374.5);
    if (p.r >= 150 && p.r >= p.g + 60)
        return "lit";
    if (p.r <= 110 && p.g <= 80)
        return "unlit";
    return "unclear " + describe(p);
}

// "up", "down" or what the lever probes show: the lever is light grey where it
// points, above or below the nut, and the panel shows on the other side.
std::string leverState(const Image& shot, double s, const Switch& sw)
{
    const Rgba top = designPixel(shot, s, sw.x + 25.5, sw.y + 5.5);
    const Rgba bottom = designPixel(shot, s, sw.x + 25.5, sw.y + 50.5);
    if (isWhite(top) && luminance(bottom) < 80)
        return "up";
    if (isWhite(bottom) && luminance(top) < 80)
        return "down";
    return "unclear: top " + describe(top) + " bottom " + describe(bottom);
}

struct Knob { uint32_t id; double cx, cy; const char* name; };
const Knob kKnobs[4] = { { kSpeed, 160, 499, "Speed" },
                         { kAttack, 321, 499, "Attack" },
                         { kHold, 480, 499, "Hold" },
                         { kRelease, 639, 499, "Release" } };

// ---- drawing

struct DrawCase
{
    const char* name;
    Values values;
    const char* digits[3]; // BPM, Beats, Division
    bool on[3];            // lamp lit and lever down: Active, Retrigger, Varispeed
    double degrees[4];     // pointer of Speed, Attack, Hold, Release, clockwise from straight up
};

const DrawCase kDrawCases[] = {
    { "defaults", kDefaults, { "100", "2", "04" }, { false, false, false }, { -54, -90, 90, 90 } },
    { "BPM 99.4 shows 099, switches at 1 are on, 0.5 is off",
      withDefaults({ { kBpm, 99.4 }, { kBeats, 3 }, { kDivision, 16 }, { kActive, 1 }, { kRetrigger, 0.5 },
                     { kVarispeed, 1 }, { kSpeed, 4 }, { kAttack, 0.5 }, { kHold, 0 }, { kRelease, 0.25 } }),
      { "099", "3", "16" }, { true, false, true }, { 90, 0, -90, -45 } },
    { "BPM 1234 shows its three low digits, Varispeed 0.5 is off",
      withDefaults({ { kBpm, 1234 }, { kBeats, 4 }, { kDivision, 1 }, { kRetrigger, 1 }, { kVarispeed, 0.5 },
                     { kSpeed, 0.25 }, { kAttack, 1 }, { kHold, 0.5 }, { kRelease, 0.75 } }),
      { "234", "4", "01" }, { false, true, false }, { -90, 90, 0, 45 } },
    { "BPM 99.5 rounds to 100, Speed 2.125 points up",
      withDefaults({ { kBpm, 99.5 }, { kBeats, 1 }, { kDivision, 10 }, { kActive, 0.5 }, { kVarispeed, 1 },
                     { kSpeed, 2.125 } }),
      { "100", "1", "10" }, { false, false, true }, { 0, -90, 90, 90 } },
};

// Empty when the screenshot shows the case, else everything that differs.
std::string compare(const Image& shot, double s, const DrawCase& c)
{
    std::string wrong;
    for (int i = 0; i < 3; ++i)
    {
        const std::string shown = readDigits(shot, s, kReadouts[i]);
        if (shown != c.digits[i])
            wrong += std::string(kReadouts[i].name) + " shows " + shown + " instead of " + c.digits[i] + "; ";
    }
    for (int i = 0; i < 3; ++i)
    {
        const std::string lamp = lampState(shot, s, kSwitches[i]);
        const std::string lever = leverState(shot, s, kSwitches[i]);
        if (lamp != (c.on[i] ? "lit" : "unlit"))
            wrong += std::string(kSwitches[i].name) + " lamp " + lamp + "; ";
        if (lever != (c.on[i] ? "down" : "up"))
            wrong += std::string(kSwitches[i].name) + " lever " + lever + "; ";
    }
    for (int i = 0; i < 4; ++i)
        wrong += checkPointer(shot, s, kKnobs[i].cx, kKnobs[i].cy, c.degrees[i], kKnobs[i].name);
    return wrong;
}

class RadedaDrawing : public ::testing::TestWithParam<double> {};

TEST_P(RadedaDrawing, ShowsWhatTheHostSets)
{
    const double s = GetParam();
    EditorSession session(RADEDA_CLAP_PATH, s);
    ASSERT_TRUE(session.isOpen());
    EXPECT_EQ(session.editor().width(), static_cast<uint32_t>(800 * s));
    EXPECT_EQ(session.editor().height(), static_cast<uint32_t>(600 * s));

    for (const DrawCase& c : kDrawCases)
    {
        SCOPED_TRACE(c.name);
        session.setValues(c.values);
        const std::string wrong = session.waitForPicture([&](const Image& shot) { return compare(shot, s, c); });
        EXPECT_EQ(wrong, "");
    }
    EXPECT_EQ(session.screenshot().width, static_cast<uint32_t>(800 * s));
    EXPECT_TRUE(session.instance().problems().empty()) << session.instance().problems().front();
}

// Knob outlines and pointers are 2.5 design units wide: 5 pixels at scale 2.
TEST_P(RadedaDrawing, StrokesScaleWithTheEditor)
{
    const double s = GetParam();
    EditorSession session(RADEDA_CLAP_PATH, s);
    ASSERT_TRUE(session.isOpen());
    session.setValues(kDefaults);
    const DrawCase& defaults = kDrawCases[0];
    ASSERT_EQ(session.waitForPicture([&](const Image& shot) { return compare(shot, s, defaults); }), "");
    const Image shot = session.screenshot();

    // Coverage summed across the stroke: the dark body counts 0, full white 1.
    const auto width = [&](int64_t x0, int64_t y0, int64_t dx, int64_t dy) {
        const double body = luminance(shot.at(x0 - 8 * dx, y0 - 8 * dy));
        double sum = 0;
        for (int k = -8; k <= 8; ++k)
            sum += std::max(0.0, (luminance(shot.at(x0 + k * dx, y0 + k * dy)) - body) / (255.0 - body));
        return sum;
    };
    // Attack points left: cross its pointer vertically, 20 units left of the centre.
    const int64_t px = static_cast<int64_t>(std::floor((321 - 20) * s));
    const int64_t py = static_cast<int64_t>(std::floor(499 * s));
    EXPECT_NEAR(width(px, py, 0, 1), 2.5 * s, 0.3) << "pointer";
    // Hold's outline, crossed vertically straight below the centre, from inside the disc.
    const int64_t ox = static_cast<int64_t>(std::floor(480 * s));
    const int64_t oy = static_cast<int64_t>(std::floor((499 + 35) * s));
    EXPECT_NEAR(width(ox, oy, 0, 1), 2.5 * s, 0.5) << "outline";
}

INSTANTIATE_TEST_SUITE_P(Scales, RadedaDrawing, ::testing::Values(1.0, 1.5, 2.0),
                         [](const ::testing::TestParamInfo<double>& info) {
                             return "x" + std::to_string(static_cast<int>(info.param * 10));
                         });

// ---- input

// Design points of the read-outs: upper and lower thirds, per digit column.
constexpr double kUp = 164, kMiddle = 192, kDown = 220;
constexpr double kBpmLeft = 209, kBpmMid = 239, kBpmRight = 269, kBeatsX = 399, kDivLeft = 543, kDivRight = 573;
// Switch centres and knob centres.
constexpr double kSwitchY = 327, kActiveX = 240, kRetriggerX = 399, kVarispeedX = 558;
constexpr double kKnobY = 499, kSpeedX = 160, kAttackX = 321, kHoldX = 480, kReleaseX = 639;
// A point outside the editor window at every scale tested.
constexpr double kOutsideX = 850, kOutsideY = 650;

struct InputCase
{
    const char* name;
    Values start; // changes from the defaults
    Script script;
    std::vector<ExpectedEvent> expected;
};

Script times(int n, const Script& s)
{
    Script out;
    for (int i = 0; i < n; ++i)
        out = out + s;
    return out;
}

const double k30 = 30.0 / 140.0, k20 = 20.0 / 140.0;

const InputCase kInputCases[] = {
    { "BPM left digit up steps by 100 and clamps at 480", { { kBpm, 100 } }, times(4, click(kBpmLeft, kUp)),
      { { kBpm, 200 }, { kBpm, 300 }, { kBpm, 400 }, { kBpm, 480 } } },
    { "BPM left digit down from 100 clamps at 10", { { kBpm, 100 } }, click(kBpmLeft, kDown), { { kBpm, 10 } } },
    { "BPM middle digit up from 475 gives 480", { { kBpm, 475 } }, click(kBpmMid, kUp), { { kBpm, 480 } } },
    { "BPM right digit up at 480 sends 480 again", { { kBpm, 480 } }, click(kBpmRight, kUp), { { kBpm, 480 } } },
    { "BPM middle and right digits down", { { kBpm, 100 } }, click(kBpmMid, kDown) + click(kBpmRight, kDown),
      { { kBpm, 90 }, { kBpm, 89 } } },
    { "BPM middle digit down from 15 clamps at 10", { { kBpm, 15 } }, click(kBpmMid, kDown), { { kBpm, 10 } } },
    { "BPM read-out edges: right edge is the right digit, bottom edge the lower third", { { kBpm, 100 } },
      click(283, kUp) + click(kBpmMid, 234), { { kBpm, 101 }, { kBpm, 91 } } },
    { "BPM thirds: 177 is upper, 178 and 205 middle, 206 lower", { { kBpm, 100 } },
      click(kBpmLeft, 177) + click(kBpmLeft, 178) + click(kBpmLeft, 205) + click(kBpmRight, 206),
      { { kBpm, 200 }, { kBpm, 199 } } },
    { "middle thirds change nothing", {},
      click(kBpmLeft, kMiddle) + click(kBpmRight, kMiddle) + click(kBeatsX, kMiddle) + click(kDivLeft, kMiddle)
          + click(kDivRight, kMiddle),
      {} },
    { "presses just outside the read-outs change nothing", {},
      click(194, kUp) + click(284, kUp) + click(kBpmLeft, 149) + click(kBpmLeft, 235) + click(384, kUp)
          + click(414, kUp) + click(528, kUp) + click(588, kDown),
      {} },
    { "Beats steps by one and stays within 1 to 4", { { kBeats, 2 } },
      times(3, click(kBeatsX, kUp)) + times(4, click(kBeatsX, kDown)),
      { { kBeats, 3 }, { kBeats, 4 }, { kBeats, 4 }, { kBeats, 3 }, { kBeats, 2 }, { kBeats, 1 }, { kBeats, 1 } } },
    { "Division left digit steps by 10 and clamps at 16, right digit by 1", { { kDivision, 4 } },
      click(kDivLeft, kUp) + click(kDivLeft, kUp) + click(kDivRight, kDown) + click(kDivLeft, kDown),
      { { kDivision, 14 }, { kDivision, 16 }, { kDivision, 15 }, { kDivision, 5 } } },
    { "Division clamps at 1", { { kDivision, 1 } }, click(kDivRight, kDown) + click(kDivLeft, kDown),
      { { kDivision, 1 }, { kDivision, 1 } } },
    { "Active flips 0 to 1 and back", {}, times(2, click(kActiveX, kSwitchY)), { { kActive, 1 }, { kActive, 0 } } },
    { "a switch at 0.5 is set to 0", { { kVarispeed, 0.5 } }, click(kVarispeedX, kSwitchY), { { kVarispeed, 0 } } },
    { "switch picture corners belong to the switch, the pixel beside does not", {},
      click(215, 299) + click(266, 355) + click(214, kSwitchY) + click(267, kSwitchY),
      { { kActive, 1 }, { kActive, 0 } } },
    // The framework reports a trigger parameter twice: the editor's change, then the changed value.
    { "Retrigger flips and reaches the host twice", {}, click(kRetriggerX, kSwitchY),
      { { kRetrigger, 1 }, { kRetrigger, 1 } } },
    { "Attack: 70 up is 0.5, 140 up 1, 200 up still 1, back to the start 0", {},
      drag(kAttackX, kKnobY, { { 0, 70 }, { 0, 140 }, { 0, 200 }, { 0, 0 } }),
      { { kAttack, 0.5 }, { kAttack, 1 }, { kAttack, 1 }, { kAttack, 0 } } },
    { "Speed: 28 up from 1 gives 1.75, 140 down clamps at 0.25", {},
      drag(kSpeedX, kKnobY, { { 0, 28 }, { 0, -140 } }), { { kSpeed, 1.75 }, { kSpeed, 0.25 } } },
    { "the larger displacement wins, a tie goes to the vertical", { { kHold, 0.5 } },
      drag(kHoldX, kKnobY, { { 30, 20 }, { 20, 20 }, { -30, 10 }, { 20, -20 } }),
      { { kHold, 0.5 + k30 }, { kHold, 0.5 + k20 }, { kHold, 0.5 - k30 }, { kHold, 0.5 - k20 } } },
    { "a press on the knob square's corner grabs the knob", { { kRelease, 0 } },
      drag(604, 464, { { 0, 70 } }), { { kRelease, 0.5 } } },
    { "the right and middle buttons change nothing", {},
      click(kActiveX, kSwitchY, 3) + click(kBpmLeft, kUp, 3) + click(kActiveX, kSwitchY, 2)
          + click(kDivRight, kDown, 2) + moveTo(kAttackX, kKnobY) + press(3) + moveTo(kAttackX, kKnobY - 70)
          + release(3) + moveTo(kAttackX, kKnobY) + press(2) + moveTo(kAttackX, kKnobY - 100) + release(2),
      {} },
    { "a right-button release does not end a drag", {},
      moveTo(kAttackX, kKnobY) + press(1) + press(3) + release(3) + moveTo(kAttackX, kKnobY - 70) + release(1),
      { { kAttack, 0.5 } } },
    { "a release outside the window ends the drag", {},
      moveTo(kAttackX, kKnobY) + press(1) + moveTo(kAttackX, kKnobY - 70) + moveTo(kOutsideX, kOutsideY)
          + release(1) + moveTo(kAttackX, kKnobY - 100) + moveTo(kAttackX, kKnobY),
      { { kAttack, 0.5 }, { kAttack, 1 } } },
    { "a release over another control ends the drag", { { kRelease, 1 } },
      moveTo(kReleaseX, kKnobY) + press(1) + moveTo(kReleaseX - 35, kKnobY) + moveTo(kActiveX, kSwitchY)
          + release(1) + moveTo(kReleaseX, kKnobY - 10),
      { { kRelease, 0.75 }, { kRelease, 0 } } },
};

class RadedaInput : public ::testing::TestWithParam<double> {};

TEST_P(RadedaInput, PointerChangesReachTheHost)
{
    const double s = GetParam();
    Pointer pointer;
    ASSERT_TRUE(pointer.ok()) << "no X display with the XTest extension";
    EditorSession session(RADEDA_CLAP_PATH, s);
    ASSERT_TRUE(session.isOpen());

    for (const InputCase& c : kInputCases)
    {
        SCOPED_TRACE(c.name);
        const Values start = withDefaults(c.start);
        session.setValues(start);
        session.reported().clear();

        // The sentinel steps Beats up from wherever the case left it.
        double beats = start[kBeats].second;
        for (const ExpectedEvent& e : c.expected)
            if (e.id == kBeats)
                beats = e.value;
        const ExpectedEvent sentinel { kBeats, std::min(beats + 1, 4.0) };

        const auto got = play(session, pointer, c.script, click(kBeatsX, kUp), sentinel, c.expected.size());
        EXPECT_TRUE(sameEvents(c.expected, got));
    }
    EXPECT_TRUE(session.instance().problems().empty()) << session.instance().problems().front();
}

// At scale 2 a press at window pixel (420, 340) is design point (210, 170), and a
// knob needs 280 pixels for its whole range.
TEST(RadedaInputScale2, WindowPixelsAreHalvedDesignUnits)
{
    Pointer pointer;
    ASSERT_TRUE(pointer.ok());
    EditorSession session(RADEDA_CLAP_PATH, 2.0);
    ASSERT_TRUE(session.isOpen());
    session.setValues(kDefaults);
    const unsigned long window = session.editor().editorWindow();

    pointer.moveTo(window, 420, 340);
    pointer.press(1);
    pointer.release(1);
    pointer.moveTo(window, 642, 998); // Attack's centre
    pointer.press(1);
    pointer.moveTo(window, 642, 998 - 140);
    pointer.moveTo(window, 642, 998 - 280);
    pointer.release(1);
    ASSERT_TRUE(session.tickUntil([&] { return session.reported().size() >= 3; }))
        << describe(session.reported());
    EXPECT_TRUE(sameEvents({ { kBpm, 200 }, { kAttack, 0.5 }, { kAttack, 1 } }, session.reported()));
}

INSTANTIATE_TEST_SUITE_P(Scales, RadedaInput, ::testing::Values(1.0, 2.0),
                         [](const ::testing::TestParamInfo<double>& info) {
                             return "x" + std::to_string(static_cast<int>(info.param * 10));
                         });

// ---- feedback

// Values the host changes while the editor is open are drawn without any other
// event; the editor's own changes are drawn at once as well.
TEST(RadedaFeedback, HostAndEditorChangesAreDrawn)
{
    Pointer pointer;
    ASSERT_TRUE(pointer.ok());
    EditorSession session(RADEDA_CLAP_PATH, 1.0);
    ASSERT_TRUE(session.isOpen());
    ASSERT_EQ(session.waitForPicture([](const Image& shot) { return compare(shot, 1.0, kDrawCases[0]); }), "");

    const std::vector<std::pair<Values, DrawCase>> steps = {
        { { { kBpm, 321 } }, { "BPM 321", {}, { "321", "2", "04" }, { false, false, false }, { -54, -90, 90, 90 } } },
        { { { kActive, 1 }, { kAttack, 0.5 } },
          { "Active on, Attack up", {}, { "321", "2", "04" }, { true, false, false }, { -54, 0, 90, 90 } } },
        { { { kDivision, 9 }, { kSpeed, 0.25 }, { kActive, 0 } },
          { "Division 9, Speed left", {}, { "321", "2", "09" }, { false, false, false }, { -90, 0, 90, 90 } } },
    };
    for (const auto& [values, view] : steps)
    {
        SCOPED_TRACE(view.name);
        for (const auto& [id, v] : values)
            session.editor().setParam(id, v);
        EXPECT_EQ(session.waitForPicture([&](const Image& shot) { return compare(shot, 1.0, view); }), "");
    }

    // The editor's own changes: BPM up by 100, Retrigger on, Release dragged to 0.5.
    const unsigned long window = session.editor().editorWindow();
    const auto at = [&](double x, double y) { pointer.moveTo(window, static_cast<int>(x), static_cast<int>(y)); };
    at(kBpmLeft, kUp);
    pointer.press(1);
    pointer.release(1);
    at(kRetriggerX, kSwitchY);
    pointer.press(1);
    pointer.release(1);
    at(kReleaseX, kKnobY);
    pointer.press(1);
    at(kReleaseX, kKnobY + 70);
    pointer.release(1);
    const DrawCase mine { "editor changes", {}, { "421", "2", "09" }, { false, true, false }, { -90, 0, 90, 0 } };
    EXPECT_EQ(session.waitForPicture([&](const Image& shot) { return compare(shot, 1.0, mine); }), "");
}

} // namespace
