#include "jsonWriter.h"

#include <cstdio>

#include "statusText.h"
#include "utf8Text.h"

namespace zelsmbus_tool {

void JsonWriter::separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) out_ << ',';
        first_.back() = false;
    }
}

JsonWriter &JsonWriter::beginObject() {
    separate();
    out_ << '{';
    first_.push_back(true);
    return *this;
}

JsonWriter &JsonWriter::endObject() {
    out_ << '}';
    first_.pop_back();
    return *this;
}

JsonWriter &JsonWriter::beginArray() {
    separate();
    out_ << '[';
    first_.push_back(true);
    return *this;
}

JsonWriter &JsonWriter::endArray() {
    out_ << ']';
    first_.pop_back();
    return *this;
}

JsonWriter &JsonWriter::key(const std::string &name) {
    separate();
    out_ << '"' << escape(name) << "\":";
    afterKey_ = true;
    return *this;
}

JsonWriter &JsonWriter::value(const std::string &text) {
    separate();
    out_ << '"' << escape(text) << '"';
    return *this;
}

JsonWriter &JsonWriter::value(const char *text) { return value(std::string(text)); }

JsonWriter &JsonWriter::value(int64_t number) {
    separate();
    out_ << number;
    return *this;
}

JsonWriter &JsonWriter::value(bool flag) {
    separate();
    out_ << (flag ? "true" : "false");
    return *this;
}

JsonWriter &JsonWriter::null() {
    separate();
    out_ << "null";
    return *this;
}

void JsonWriter::finish() { out_ << '\n'; }

std::string JsonWriter::escape(const std::string &text) {
    std::string out;
    out.reserve(text.size() + 2);
    char code[8];
    for (size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        const size_t length = utf8SequenceLength(text, at);
        if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
            // C1 controls (U+0080-U+009F): some terminals act on them.
            std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(text[at + 1]));
            out += code;
            at += 2;
            continue;
        }
        if (length > 1) {
            out.append(text, at, length);  // valid UTF-8 passes unchanged
            at += length;
            continue;
        }
        ++at;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                // Control characters are escaped. A byte that is not part of valid
                // UTF-8 is written as the code point of the same number (read as
                // Latin-1): the document stays valid and the byte's value is kept.
                if (c < 0x20 || c == 0x7F || length == 0) {
                    std::snprintf(code, sizeof code, "\\u%04x", c);
                    out += code;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

void writeStatus(JsonWriter &json, int32_t code) {
    const StatusText text = describeStatus(code);
    json.beginObject().member("code", int64_t(code));
    json.key("name");
    if (text.name) {
        json.value(text.name);
    } else {
        json.null();
    }
    json.member("meaning", text.meaning).endObject();
}

}  // namespace zelsmbus_tool
