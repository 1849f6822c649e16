// A small streaming JSON writer: compact output, one document per command.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace zelsmbus_tool {

class JsonWriter {
public:
    explicit JsonWriter(std::ostream &out) : out_(out) {}

    JsonWriter &beginObject();
    JsonWriter &endObject();
    JsonWriter &beginArray();
    JsonWriter &endArray();
    JsonWriter &key(const std::string &name);

    JsonWriter &value(const std::string &text);
    JsonWriter &value(const char *text);
    JsonWriter &value(int64_t number);
    JsonWriter &value(bool flag);
    JsonWriter &null();

    // Shorthands for members of the current object.
    template <typename T>
    JsonWriter &member(const std::string &name, const T &v) {
        key(name);
        return value(v);
    }
    JsonWriter &member(const std::string &name, unsigned v) { return member(name, int64_t(v)); }
    JsonWriter &member(const std::string &name, int v) { return member(name, int64_t(v)); }

    // Ends the document with a line break.
    void finish();

    static std::string escape(const std::string &text);

private:
    void separate();

    std::ostream &out_;
    std::vector<bool> first_;  // per open container: no element written yet
    bool afterKey_ = false;
};

// The library's status as a JSON object {"code":..,"name":..,"meaning":..}.
void writeStatus(JsonWriter &json, int32_t code);

}  // namespace zelsmbus_tool
