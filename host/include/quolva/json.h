#pragma once

// A small JSON writer for the command-line tool's machine-readable output.

#include <cstdint>
#include <string>
#include <vector>

namespace quolva::host {

// `text` as a quoted JSON string: quotes, backslashes and control characters
// escaped, invalid UTF-8 bytes replaced by U+FFFD.
std::string jsonQuote(const std::string& text);
// The shortest decimal that reads back as `value`; "null" for NaN and infinities.
std::string jsonNumber(double value);

// Writes nested objects and arrays with two-space indentation; commas and
// indentation are handled by the writer. Misuse (a value without a key inside an
// object, unbalanced end calls) is the caller's bug and is not checked.
class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(const std::string& name);
    JsonWriter& value(const std::string& text);
    JsonWriter& value(const char* text); // null pointer writes null
    JsonWriter& value(double number);
    JsonWriter& value(int64_t number);
    JsonWriter& value(uint32_t number) { return value(static_cast<int64_t>(number)); }
    JsonWriter& value(int number) { return value(static_cast<int64_t>(number)); }
    JsonWriter& value(bool flag);
    JsonWriter& null();
    JsonWriter& stringArray(const std::vector<std::string>& items);

    // The document so far, with a final newline once the outermost value is closed.
    const std::string& str() const { return out_; }

private:
    void beforeValue();
    void newline();

    std::string out_;
    struct Level {
        bool isObject;
        bool empty;
    };
    std::vector<Level> stack_;
    bool afterKey_ = false;
};

} // namespace quolva::host
