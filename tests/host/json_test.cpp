#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "quolva/json.h"

namespace quolva::host {
namespace {

TEST(Json, QuotesAndEscapes)
{
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"", "\"\""},
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"tab\tnew\nret\r", "\"tab\\tnew\\nret\\r\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
        {"\x1f\x7f", "\"\\u001f\x7f\""},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5\""},
        {"bad\xff", "\"bad\\ufffd\""},
        {"cut\xe2\x82", "\"cut\\ufffd\\ufffd\""},
        {"overlong\xc0\xaf", "\"overlong\\ufffd\\ufffd\""},
        {"surrogate\xed\xa0\x80", "\"surrogate\\ufffd\\ufffd\\ufffd\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        EXPECT_EQ(jsonQuote(c.in), c.out);
    }
}

TEST(Json, NumbersAreShortestRoundTrip)
{
    struct Case {
        double in;
        const char* out;
    };
    const Case cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {1.0, "1"},
        {-2.5, "-2.5"},
        {0.1, "0.1"},
        {0.30000000000000004, "0.30000000000000004"},
        {1e300, "1e+300"},
        {std::nan(""), "null"},
        {std::numeric_limits<double>::infinity(), "null"},
        {-std::numeric_limits<double>::infinity(), "null"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        EXPECT_EQ(jsonNumber(c.in), c.out);
    }
}

TEST(Json, WriterNestsWithCommasAndIndentation)
{
    JsonWriter j;
    j.beginObject();
    j.key("id").value("x\"y");
    j.key("n").value(uint32_t(7));
    j.key("ok").value(true);
    j.key("none").value(static_cast<const char*>(nullptr));
    j.key("list").beginArray().value(1.5).beginObject().endObject().endArray();
    j.key("empty").stringArray({});
    j.endObject();
    EXPECT_EQ(j.str(),
              "{\n"
              "  \"id\": \"x\\\"y\",\n"
              "  \"n\": 7,\n"
              "  \"ok\": true,\n"
              "  \"none\": null,\n"
              "  \"list\": [\n"
              "    1.5,\n"
              "    {}\n"
              "  ],\n"
              "  \"empty\": []\n"
              "}\n");
}

} // namespace
} // namespace quolva::host
