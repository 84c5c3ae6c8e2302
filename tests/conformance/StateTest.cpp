// Saved state: rejection of empty, random, truncated and malformed streams
// without touching a parameter; byte-identical save, load, save through
// streams that move a few bytes at a time; failing streams; states written by
// the framework before our entry layer; a comma-decimal process locale.
#include "Conformance.hpp"

#include "clap/ext/state.h"

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <map>
#include <random>
#include <sstream>

#ifndef _WIN32
#include <filesystem>
#include <unistd.h>
#endif

using namespace quolva;
using namespace quolva::conformance;

namespace {

using Bytes = std::vector<uint8_t>;

class State : public ModuleTest
{
protected:
    Plugin openBusy() const
    {
        Plugin p = open();
        if (p)
        {
            EXPECT_TRUE(p->flush(GetParam().busy)) << p->lastError();
        }
        return p;
    }

    Bytes save(host::Instance& p, size_t chunk = 0) const
    {
        Bytes bytes;
        EXPECT_TRUE(p.saveState(bytes, chunk)) << p.lastError();
        return bytes;
    }

    // The load must fail and leave every parameter as it was.
    static void expectRejected(host::Instance& p, const Bytes& bytes, size_t chunk, const std::string& what)
    {
        const std::vector<double> before = parameterValues(p);
        EXPECT_FALSE(p.loadState(bytes, chunk)) << what << " was accepted";
        EXPECT_EQ(parameterValues(p), before) << what << " changed parameters";
    }

    std::vector<uint8_t> fixture() const { return readFile(dataDir() + "/" + GetParam().stateFixture); }

    void expectFixtureValues(host::Instance& p) const
    {
        const std::vector<double>& expected = GetParam().stateFixtureValues;
        const std::vector<double> values = parameterValues(p);
        ASSERT_EQ(values.size(), expected.size());
        for (size_t i = 0; i < values.size(); ++i)
            EXPECT_EQ(values[i], expected[i]) << "parameter " << i;
    }
};
QUOLVA_FOR_EACH_MODULE(State);

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes randomBytes(size_t size, uint32_t seed)
{
    Bytes out(size);
    std::mt19937 rng(seed);
    for (uint8_t& b : out)
        b = static_cast<uint8_t>(rng());
    return out;
}

// (symbol, value text) pairs of a saved state, in order.
std::vector<std::pair<std::string, std::string>> entries(const Bytes& bytes)
{
    std::vector<std::string> fields(1);
    for (uint8_t c : bytes)
    {
        if (c == 0xFE)
            break;
        if (c == 0)
            fields.emplace_back();
        else
            fields.back().push_back(static_cast<char>(c));
    }
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t i = 1; i + 2 < fields.size(); i += 2)
        out.emplace_back(fields[i], fields[i + 1]);
    return out;
}

double numberIn(const std::string& text)
{
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double v = 0.0;
    in >> v;
    return v;
}

// A host stream that takes at most three bytes per call and, once `limit`
// bytes have gone through, answers `failure` (an error, or no progress).
struct FailingOut
{
    clap_ostream_t stream;
    size_t limit;
    int64_t failure;
    Bytes taken;

    FailingOut(size_t lim, int64_t fail) : stream { this, &FailingOut::write }, limit(lim), failure(fail) {}

    static int64_t CLAP_ABI write(const clap_ostream_t* s, const void* buffer, uint64_t size)
    {
        auto* self = static_cast<FailingOut*>(s->ctx);
        if (self->taken.size() >= self->limit)
            return self->failure;
        const size_t n = static_cast<size_t>(std::min<uint64_t>({ size, 3, self->limit - self->taken.size() }));
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        self->taken.insert(self->taken.end(), bytes, bytes + n);
        return static_cast<int64_t>(n);
    }
};

// A host stream that hands out `data` five bytes at a time and fails (-1)
// once `limit` bytes have been read.
struct FailingIn
{
    clap_istream_t stream;
    const Bytes& data;
    size_t limit;
    size_t pos = 0;

    FailingIn(const Bytes& d, size_t lim) : stream { this, &FailingIn::read }, data(d), limit(lim) {}

    static int64_t CLAP_ABI read(const clap_istream_t* s, void* buffer, uint64_t size)
    {
        auto* self = static_cast<FailingIn*>(s->ctx);
        if (self->pos >= self->limit)
            return -1;
        const size_t n = static_cast<size_t>(std::min<uint64_t>({ size, 5, self->limit - self->pos }));
        std::memcpy(buffer, self->data.data() + self->pos, n);
        self->pos += n;
        return static_cast<int64_t>(n);
    }
};

// Makes a comma-decimal locale current for the whole process while it
// lives; generates one with localedef when the system has none installed.
class CommaLocale
{
public:
    CommaLocale()
    {
        const char* current = std::setlocale(LC_ALL, nullptr);
        fPrevious = current != nullptr ? current : "C";
        for (const char* name : { "de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE" })
            if (use(name))
                return;
#ifndef _WIN32
        if (generate() && use("de_DE.UTF-8"))
            return;
#endif
        if (fWhy.empty())
            fWhy = "no comma-decimal locale is installed";
    }

    ~CommaLocale()
    {
        std::setlocale(LC_ALL, fPrevious.c_str());
#ifndef _WIN32
        if (fSetLocPath)
        {
            if (fOldLocPath.empty())
                unsetenv("LOCPATH");
            else
                setenv("LOCPATH", fOldLocPath.c_str(), 1);
        }
#endif
    }

    bool active() const { return fActive; }
    const std::string& why() const { return fWhy; }

private:
    bool use(const char* name)
    {
        if (std::setlocale(LC_ALL, name) == nullptr)
            return false;
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", 3.5);
        if (std::strcmp(text, "3,5") == 0)
        {
            fActive = true;
            return true;
        }
        std::setlocale(LC_ALL, fPrevious.c_str());
        return false;
    }

#ifndef _WIN32
    // Builds de_DE.UTF-8 under the temporary folder (once; later runs reuse
    // it) and points LOCPATH there.
    bool generate()
    {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec) / "quolva-conformance-locales";
        const fs::path target = base / "de_DE.UTF-8";
        if (!fs::exists(target / "LC_NUMERIC", ec))
        {
            // Built aside and renamed, so test processes running side by side
            // never see half a locale.
            const fs::path work = base / ("build-" + std::to_string(getpid()));
            fs::create_directories(work, ec);
            const std::string command =
                "localedef -i de_DE -f UTF-8 '" + (work / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
            const int status = std::system(command.c_str());
            if (fs::exists(work / "de_DE.UTF-8" / "LC_NUMERIC", ec))
                fs::rename(work / "de_DE.UTF-8", target, ec);
            fs::remove_all(work, ec);
            if (!fs::exists(target / "LC_NUMERIC", ec))
            {
                fWhy = "localedef could not generate de_DE.UTF-8 (exit status " + std::to_string(status)
                       + "; Debian's locales package has the definitions)";
                return false;
            }
        }
        if (const char* old = std::getenv("LOCPATH"))
            fOldLocPath = old;
        setenv("LOCPATH", base.c_str(), 1);
        fSetLocPath = true;
        return true;
    }
    bool fSetLocPath = false;
    std::string fOldLocPath;
#endif

    std::string fPrevious;
    std::string fWhy;
    bool fActive = false;
};

} // namespace

TEST_P(State, EmptyAndRandomStreamsAreRejected)
{
    auto p = openBusy();
    ASSERT_TRUE(p);
    const std::pair<std::string, Bytes> streams[] = {
        { "an empty stream", {} },
        { "a lone terminator", { 0xFE } },
        { "64 KiB of random bytes", randomBytes(64 << 10, 1) },
        { "2 MiB of random bytes", randomBytes(2 << 20, 2) },
        { "5 MiB of random bytes", randomBytes(5 << 20, 3) },
        { "the begin marker and 3 MiB of random bytes",
          [] { Bytes b = bytesOf(std::string("__dpf_parameters_begin__", 25)); Bytes r = randomBytes(3 << 20, 4);
               b.insert(b.end(), r.begin(), r.end()); return b; }() },
    };
    for (const auto& [what, bytes] : streams)
        for (size_t chunk : { size_t(0), size_t(4093) })
            expectRejected(*p, bytes, chunk, what);
}

TEST_P(State, TruncatedStatesAreRejected)
{
    auto p = openBusy();
    ASSERT_TRUE(p);
    const Bytes saved = save(*p);
    ASSERT_GT(saved.size(), 2u);
    auto q = open();
    ASSERT_TRUE(q);
    // Every cut before the terminator byte; only the NUL after it may go.
    for (size_t length = 0; length + 1 < saved.size(); ++length)
        expectRejected(*q, Bytes(saved.begin(), saved.begin() + length), length % 2 ? 7 : 0,
                       "the first " + std::to_string(length) + " bytes");
    ASSERT_TRUE(q->loadState(Bytes(saved.begin(), saved.end() - 1)));
    EXPECT_EQ(parameterValues(*q), parameterValues(*p));
}

TEST_P(State, MalformedStatesAreRejected)
{
    auto p = open();
    ASSERT_TRUE(p);
    // A parameter without the integer hint; the framework reports its symbol
    // as the parameter's module path.
    const host::ParamInfo last = p->params().back();
    const std::string symbol = last.module;
    const std::string begin("__dpf_parameters_begin__\0", 25);
    const std::string end("__dpf_parameters_end__\0", 23);
    const std::string close("\xfe\0", 2);
    const auto entry = [&](const std::string& key, const std::string& value) {
        return key + std::string(1, '\0') + value + std::string(1, '\0');
    };
    const std::string good = entry(symbol, "1.5");

    const std::pair<const char*, std::string> cases[] = {
        { "no begin marker", good + end + close },
        { "a misspelt begin marker", "__dpf_parameters_begun__" + std::string(1, '\0') + good + end + close },
        { "no end marker", begin + good + close },
        { "no terminator", begin + good + end },
        { "a symbol without a value", begin + good + symbol + std::string(1, '\0') + end + close },
        { "a value that is no number", begin + entry(symbol, "abc") + end + close },
        { "a number followed by text", begin + entry(symbol, "1.5x") + end + close },
        { "a comma-decimal number", begin + entry(symbol, "1,5") + end + close },
        { "an empty value", begin + entry(symbol, "") + end + close },
        { "an empty symbol", begin + entry("", "1.5") + end + close },
        { "a field running into the end", begin + symbol },
        { "bytes after the terminator", begin + good + end + close + "more" },
        { "a begin marker twice", begin + begin + good + end + close },
        { "a framework state section", begin + entry("__dpf_state_begin__", "1") + good + end + close },
    };
    for (const auto& [what, text] : cases)
        for (size_t chunk : { size_t(0), size_t(3) })
            expectRejected(*p, bytesOf(text), chunk, what);

    // The same frame, well formed, loads.
    ASSERT_TRUE(p->loadState(bytesOf(begin + good + end + close)));
    EXPECT_EQ(p->getValue(last.id), 1.5);
}

TEST_P(State, SaveLoadSaveIsByteIdenticalThroughSmallChunks)
{
    const size_t chunks[] = { 0, 1, 2, 3, 5, 7, 11, 13, 31, 127, 509, 4093 };
    std::mt19937 rng(17);
    for (int round = 0; round < 3; ++round)
    {
        SCOPED_TRACE(round);
        auto a = open();
        ASSERT_TRUE(a);
        ASSERT_TRUE(a->flush(randomInRange(*a, rng)));
        const Bytes reference = save(*a);
        const auto saved = entries(reference);
        ASSERT_FALSE(saved.empty());
        for (size_t chunk : chunks)
        {
            SCOPED_TRACE(testing::Message() << "chunk " << chunk);
            EXPECT_EQ(save(*a, chunk), reference);
            auto b = open();
            ASSERT_TRUE(b);
            ASSERT_TRUE(b->loadState(reference, chunk)) << b->lastError();
            EXPECT_EQ(save(*b, chunk), reference);
            // Each saved value arrived as the number written.
            for (const host::ParamInfo& info : b->params())
                for (const auto& [symbol, text] : saved)
                {
                    if (symbol == info.module)
                    {
                        EXPECT_EQ(b->getValue(info.id), static_cast<double>(static_cast<float>(numberIn(text))))
                            << symbol << " = " << text;
                    }
                }
        }
    }
}

TEST_P(State, SaveReportsAFailingStream)
{
    auto p = openBusy();
    ASSERT_TRUE(p);
    const Bytes reference = save(*p);
    const auto* state = p->pluginExtension<clap_plugin_state_t>(CLAP_EXT_STATE);
    ASSERT_NE(state, nullptr);

    // Three bytes per call all the way: everything arrives.
    FailingOut slow(SIZE_MAX, -1);
    EXPECT_TRUE(state->save(p->plugin(), &slow.stream));
    EXPECT_EQ(slow.taken, reference);

    const struct { const char* what; size_t limit; int64_t failure; } cases[] = {
        { "fails at once", 0, -1 },
        { "fails after 10 bytes", 10, -1 },
        { "stops taking bytes after 10", 10, 0 },
        { "fails before the last byte", reference.size() - 1, -1 },
    };
    for (const auto& c : cases)
    {
        FailingOut out(c.limit, c.failure);
        EXPECT_FALSE(state->save(p->plugin(), &out.stream)) << c.what;
    }
}

TEST_P(State, LoadReportsAFailingStream)
{
    const Bytes saved = save(*openBusy());
    auto p = open();
    ASSERT_TRUE(p);
    const auto* state = p->pluginExtension<clap_plugin_state_t>(CLAP_EXT_STATE);
    ASSERT_NE(state, nullptr);
    const std::vector<double> before = parameterValues(*p);
    for (size_t limit : { size_t(0), size_t(10), saved.size() / 2, saved.size() - 1, saved.size() })
    {
        FailingIn in(saved, limit);
        EXPECT_FALSE(state->load(p->plugin(), &in.stream)) << "error after " << limit << " bytes";
        EXPECT_EQ(parameterValues(*p), before);
    }
}

TEST_P(State, FrameworkSavedStateLoadsUnchanged)
{
    const Bytes old = fixture();
    ASSERT_FALSE(old.empty());
    for (size_t chunk : { size_t(0), size_t(1), size_t(7), size_t(509) })
    {
        SCOPED_TRACE(chunk);
        auto p = open();
        ASSERT_TRUE(p);
        ASSERT_TRUE(p->loadState(old, chunk)) << p->lastError();
        expectFixtureValues(*p);
        // Our save writes the framework's format, byte for byte.
        EXPECT_EQ(save(*p, chunk), old);
    }
}

TEST_P(State, CommaDecimalLocaleChangesNoLoadedValue)
{
    const Bytes old = fixture();
    ASSERT_FALSE(old.empty());
    auto busy = openBusy();
    ASSERT_TRUE(busy);
    const Bytes busyState = save(*busy);
    const std::vector<double> busyValues = parameterValues(*busy);

    CommaLocale locale;
    if (!locale.active())
        GTEST_SKIP() << "no comma-decimal locale: " << locale.why();
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 3.5);
    ASSERT_STREQ(text, "3,5") << "the locale does not write decimal commas";
    ASSERT_EQ(std::atof("0,25"), 0.25) << "the locale does not read decimal commas";

    for (size_t chunk : { size_t(0), size_t(3) })
    {
        SCOPED_TRACE(chunk);
        auto p = open();
        ASSERT_TRUE(p);
        ASSERT_TRUE(p->loadState(old, chunk)) << p->lastError();
        expectFixtureValues(*p);
        EXPECT_EQ(save(*p, chunk), old);

        auto q = open();
        ASSERT_TRUE(q);
        ASSERT_TRUE(q->loadState(busyState, chunk)) << q->lastError();
        EXPECT_EQ(parameterValues(*q), busyValues);
        EXPECT_EQ(save(*q, chunk), busyState);
    }
}
