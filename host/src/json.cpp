#include "quolva/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace quolva::host {

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 if it is not valid
// (overlong forms, surrogates and values above U+10FFFF are invalid).
size_t utf8SequenceLength(const std::string& s, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    size_t len;
    uint32_t cp;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    for (size_t k = 1; k < len; ++k) {
        const unsigned char cc = byte(i + k);
        if ((cc & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))
        || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

} // namespace

std::string jsonQuote(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const size_t len = utf8SequenceLength(text, i);
            if (len == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text, i, len);
                i += len;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(c));
                out += buf;
            } else {
                out += char(c);
            }
        }
        ++i;
    }
    out += '"';
    return out;
}

std::string jsonNumber(double value)
{
    if (!std::isfinite(value))
        return "null";
    if (value == 0.0)
        return "0"; // also for -0.0, which JSON readers treat alike anyway
    // Shortest round-trip form, independent of the process locale.
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

void JsonWriter::newline()
{
    out_ += '\n';
    out_.append(stack_.size() * 2, ' ');
}

void JsonWriter::beforeValue()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!stack_.empty()) {
        if (!stack_.back().empty)
            out_ += ',';
        stack_.back().empty = false;
        newline();
    }
}

JsonWriter& JsonWriter::key(const std::string& name)
{
    if (!stack_.back().empty)
        out_ += ',';
    stack_.back().empty = false;
    newline();
    out_ += jsonQuote(name);
    out_ += ": ";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::beginObject()
{
    beforeValue();
    out_ += '{';
    stack_.push_back({true, true});
    return *this;
}

JsonWriter& JsonWriter::beginArray()
{
    beforeValue();
    out_ += '[';
    stack_.push_back({false, true});
    return *this;
}

JsonWriter& JsonWriter::endObject()
{
    const bool wasEmpty = stack_.back().empty;
    stack_.pop_back();
    if (!wasEmpty)
        newline();
    out_ += '}';
    if (stack_.empty())
        out_ += '\n';
    return *this;
}

JsonWriter& JsonWriter::endArray()
{
    const bool wasEmpty = stack_.back().empty;
    stack_.pop_back();
    if (!wasEmpty)
        newline();
    out_ += ']';
    if (stack_.empty())
        out_ += '\n';
    return *this;
}

JsonWriter& JsonWriter::value(const std::string& text)
{
    beforeValue();
    out_ += jsonQuote(text);
    return *this;
}

JsonWriter& JsonWriter::value(const char* text)
{
    if (!text)
        return null();
    return value(std::string(text));
}

JsonWriter& JsonWriter::value(double number)
{
    beforeValue();
    out_ += jsonNumber(number);
    return *this;
}

JsonWriter& JsonWriter::value(int64_t number)
{
    beforeValue();
    out_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag)
{
    beforeValue();
    out_ += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null()
{
    beforeValue();
    out_ += "null";
    return *this;
}

JsonWriter& JsonWriter::stringArray(const std::vector<std::string>& items)
{
    beginArray();
    for (const std::string& s : items)
        value(s);
    return endArray();
}

} // namespace quolva::host
