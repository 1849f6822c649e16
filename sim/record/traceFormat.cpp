#include "traceFormat.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zelsim::trace {
namespace {

class Parser {
public:
    explicit Parser(const std::string &text) : text_(text) {}

    bool parse(Value &value, std::string &error) {
        if (!parseValue(value, 0)) {
            error = error_;
            return false;
        }
        skipSpace();
        if (pos_ != text_.size()) {
            error = "unexpected text after the JSON value at column " + std::to_string(pos_ + 1);
            return false;
        }
        return true;
    }

private:
    bool fail(const std::string &what) {
        if (error_.empty()) error_ = what + " at column " + std::to_string(pos_ + 1);
        return false;
    }
    void skipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\r' || text_[pos_] == '\n')) {
            ++pos_;
        }
    }
    bool literal(const char *word) {
        size_t n = std::strlen(word);
        if (text_.compare(pos_, n, word) != 0) return fail("invalid JSON");
        pos_ += n;
        return true;
    }
    bool parseValue(Value &value, int depth) {
        if (depth > 16) return fail("JSON nested too deeply");
        skipSpace();
        if (pos_ >= text_.size()) return fail("unexpected end of line");
        char c = text_[pos_];
        if (c == '{') return parseObject(value, depth);
        if (c == '[') return parseArray(value, depth);
        if (c == '"') {
            value.kind = Value::Kind::String;
            return parseString(value.text);
        }
        if (c == 't') {
            value.kind = Value::Kind::Bool;
            value.boolean = true;
            return literal("true");
        }
        if (c == 'f') {
            value.kind = Value::Kind::Bool;
            return literal("false");
        }
        if (c == 'n') return literal("null");
        if (c == '-' || (c >= '0' && c <= '9')) return parseInteger(value);
        return fail("invalid JSON");
    }
    bool parseInteger(Value &value) {
        value.kind = Value::Kind::Integer;
        if (text_[pos_] == '-') {
            value.negative = true;
            ++pos_;
        }
        size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            unsigned digit = static_cast<unsigned>(text_[pos_] - '0');
            if (value.magnitude > (UINT64_MAX - digit) / 10) return fail("number too large");
            value.magnitude = value.magnitude * 10 + digit;
            ++pos_;
        }
        if (pos_ == start) return fail("invalid number");
        if (pos_ - start > 1 && text_[start] == '0') return fail("number with a leading zero");
        if (pos_ < text_.size() && (text_[pos_] == '.' || text_[pos_] == 'e' || text_[pos_] == 'E'))
            return fail("not an integer");
        return true;
    }
    static void appendUtf8(std::string &out, uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    bool hex4(uint32_t &code) {
        if (pos_ + 4 > text_.size()) return fail("short \\u escape");
        code = 0;
        for (int i = 0; i < 4; ++i) {
            char h = text_[pos_++];
            code <<= 4;
            if (h >= '0' && h <= '9') code |= static_cast<uint32_t>(h - '0');
            else if (h >= 'a' && h <= 'f') code |= static_cast<uint32_t>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') code |= static_cast<uint32_t>(h - 'A' + 10);
            else return fail("bad \\u escape");
        }
        return true;
    }
    bool parseString(std::string &out) {
        ++pos_;  // the quote
        while (pos_ < text_.size()) {
            char c = text_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return fail("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) break;
            char e = text_[pos_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t code = 0;
                if (!hex4(code)) return false;
                if (code >= 0xD800 && code < 0xDC00 && text_.compare(pos_, 2, "\\u") == 0) {
                    pos_ += 2;
                    uint32_t low = 0;
                    if (!hex4(low)) return false;
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                }
                appendUtf8(out, code);
                break;
            }
            default: return fail("bad escape in a string");
            }
        }
        return fail("unterminated string");
    }
    bool parseArray(Value &value, int depth) {
        value.kind = Value::Kind::Array;
        ++pos_;
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            value.items.emplace_back();
            if (!parseValue(value.items.back(), depth + 1)) return false;
            skipSpace();
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < text_.size() && text_[pos_] == ']') {
                ++pos_;
                return true;
            }
            return fail("expected ',' or ']'");
        }
    }
    bool parseObject(Value &value, int depth) {
        value.kind = Value::Kind::Object;
        ++pos_;
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipSpace();
            if (pos_ >= text_.size() || text_[pos_] != '"') return fail("expected a key");
            std::string key;
            if (!parseString(key)) return false;
            if (value.members.count(key) != 0) return fail("key '" + key + "' given twice");
            skipSpace();
            if (pos_ >= text_.size() || text_[pos_] != ':') return fail("expected ':'");
            ++pos_;
            if (!parseValue(value.members[key], depth + 1)) return false;
            skipSpace();
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < text_.size() && text_[pos_] == '}') {
                ++pos_;
                return true;
            }
            return fail("expected ',' or '}'");
        }
    }

    const std::string &text_;
    size_t pos_ = 0;
    std::string error_;
};

// Field readers for one line's object: each sets `error` to name the key.
struct Fields {
    const Value &object;
    std::string &error;

    const Value *need(const char *key, Value::Kind kind, const char *what) {
        const Value *v = object.member(key);
        if (v == nullptr) {
            error = std::string("key '") + key + "' missing";
            return nullptr;
        }
        if (v->kind != kind) {
            error = std::string("key '") + key + "': must be " + what;
            return nullptr;
        }
        return v;
    }
    bool unsignedValue(const char *key, uint64_t max, uint64_t &out) {
        const Value *v = need(key, Value::Kind::Integer, "an integer");
        if (v == nullptr) return false;
        if (v->negative || v->magnitude > max) {
            error = std::string("key '") + key + "': out of range";
            return false;
        }
        out = v->magnitude;
        return true;
    }
    bool signedValue(const char *key, int64_t min, int64_t max, int64_t &out) {
        const Value *v = need(key, Value::Kind::Integer, "an integer");
        if (v == nullptr) return false;
        bool ok = v->negative ? v->magnitude <= static_cast<uint64_t>(-(min + 1)) + 1
                              : v->magnitude <= static_cast<uint64_t>(max);
        if (!ok) {
            error = std::string("key '") + key + "': out of range";
            return false;
        }
        out = v->negative ? static_cast<int64_t>(0 - v->magnitude) : static_cast<int64_t>(v->magnitude);
        return true;
    }
    bool string(const char *key, std::string &out) {
        const Value *v = need(key, Value::Kind::String, "a string");
        if (v == nullptr) return false;
        out = v->text;
        return true;
    }
    bool hex(const char *key, std::vector<uint8_t> &out) {
        std::string text;
        if (!string(key, text)) return false;
        for (char c : text) {
            if ((c >= 'A' && c <= 'F')) {
                error = std::string("key '") + key + "': hex digits must be lower case";
                return false;
            }
        }
        if (!fromHex(text, out)) {
            error = std::string("key '") + key + "': not a string of hex byte pairs";
            return false;
        }
        return true;
    }
};

bool parseHeader(const Value &object, Header &header, std::string &error) {
    Fields f{object, error};
    std::string format;
    if (!f.string("format", format)) return false;
    if (format != kFormat) {
        error = "key 'format': not a zelsim trace (\"" + format + "\")";
        return false;
    }
    uint64_t version = 0;
    if (!f.unsignedValue("version", UINT32_MAX, version)) return false;
    if (version != kVersion) {
        error = "key 'version': version " + std::to_string(version) +
                " is not known (this zelsim reads version " + std::to_string(kVersion) + ")";
        return false;
    }
    if (!f.string("source", header.source)) return false;
    if (header.source != "simulator" && header.source != "driver") {
        error = "key 'source': must be \"simulator\" or \"driver\"";
        return false;
    }
    const Value *program = f.need("program", Value::Kind::Array, "an array of strings");
    if (program == nullptr) return false;
    for (const Value &arg : program->items) {
        if (arg.kind != Value::Kind::String) {
            error = "key 'program': must be an array of strings";
            return false;
        }
        header.program.push_back(arg.text);
    }
    if (!f.string("started", header.started)) return false;
    const Value *tree = object.member("tree");
    if (tree == nullptr) return true;
    header.hasTree = true;
    if (tree->kind != Value::Kind::Array) {
        error = "key 'tree': must be an array of objects";
        return false;
    }
    for (const Value &entry : tree->items) {
        const Value *dir = entry.member("directory");
        const Value *files = entry.member("files");
        if (entry.kind != Value::Kind::Object || dir == nullptr ||
            dir->kind != Value::Kind::String || files == nullptr ||
            files->kind != Value::Kind::Object) {
            error = "key 'tree': every entry needs a string 'directory' and an object 'files'";
            return false;
        }
        TreeDirectory d;
        d.directory = dir->text;
        if (d.directory.compare(0, 17, "/proc/driver/zel/") != 0 ||
            d.directory.find("/../") != std::string::npos) {
            error = "key 'tree': directory " + d.directory + " is not under /proc/driver/zel/";
            return false;
        }
        for (const auto &[name, bytes] : files->members) {
            std::vector<uint8_t> raw;
            if (bytes.kind != Value::Kind::String || !fromHex(bytes.text, raw) ||
                name.empty() || name[0] == '/' || name.find("..") != std::string::npos) {
                error = "key 'tree': file '" + name + "' of " + d.directory +
                        " must be a relative name with hex bytes";
                return false;
            }
            d.files[name] = std::string(raw.begin(), raw.end());
        }
        header.tree.push_back(std::move(d));
    }
    return true;
}

bool parseRecord(const Value &object, Record &r, std::string &error) {
    Fields f{object, error};
    uint64_t u = 0;
    int64_t s = 0;
    if (!f.unsignedValue("seq", UINT64_MAX, r.seq)) return false;
    if (r.seq == 0) {
        error = "key 'seq': numbering starts at 1";
        return false;
    }
    if (!f.unsignedValue("t_ns", UINT64_MAX, r.tNs)) return false;
    if (!f.signedValue("pid", INT32_MIN, INT32_MAX, r.pid)) return false;
    if (!f.signedValue("tid", INT32_MIN, INT32_MAX, r.tid)) return false;
    if (!f.string("node", r.node)) return false;
    if (!f.unsignedValue("request", UINT32_MAX, u)) return false;
    r.request = static_cast<uint32_t>(u);
    if (!f.unsignedValue("command", 255, u)) return false;
    r.command = static_cast<unsigned>(u);
    if (r.command != (r.request & 0xFF)) {
        error = "key 'command': must be the low byte of 'request'";
        return false;
    }
    if (!f.string("name", r.name)) return false;
    if (!f.hex("in", r.in) || !f.hex("out", r.out)) return false;
    if (!f.signedValue("errno", 0, 4095, s)) return false;
    r.err = static_cast<int>(s);
    if (!f.signedValue("status", INT32_MIN, INT32_MAX, s)) return false;
    r.status = static_cast<int32_t>(s);
    if (!f.unsignedValue("duration_ns", UINT64_MAX, r.durationNs)) return false;
    if (r.err != 0 && (!r.out.empty() || r.status != 0)) {
        error = "a failed request (errno " + std::to_string(r.err) +
                ") carries no output bytes and status 0";
        return false;
    }
    return true;
}

}  // namespace

bool parseJson(const std::string &text, Value &value, std::string &error) {
    Parser parser(text);
    return parser.parse(value, error);
}

std::string toHex(const uint8_t *bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out(size * 2, '0');
    for (size_t i = 0; i < size; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 15];
    }
    return out;
}

bool fromHex(const std::string &hex, std::vector<uint8_t> &bytes) {
    if (hex.size() % 2 != 0) return false;
    bytes.clear();
    bytes.reserve(hex.size() / 2);
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = digit(hex[i]);
        int low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
}

std::string quote(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string headerLine(const Header &header) {
    std::string line = "{\"format\":\"zelsim-trace\",\"version\":1,\"source\":" +
                       quote(header.source) + ",\"program\":[";
    for (size_t i = 0; i < header.program.size(); ++i) {
        if (i != 0) line += ',';
        line += quote(header.program[i]);
    }
    line += "],\"started\":" + quote(header.started);
    if (header.hasTree) {
        line += ",\"tree\":[";
        for (size_t i = 0; i < header.tree.size(); ++i) {
            if (i != 0) line += ',';
            line += "{\"directory\":" + quote(header.tree[i].directory) + ",\"files\":{";
            bool first = true;
            for (const auto &[name, bytes] : header.tree[i].files) {
                if (!first) line += ',';
                first = false;
                line += quote(name) + ":\"" +
                        toHex(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()) + "\"";
            }
            line += "}}";
        }
        line += "]";
    }
    return line + "}";
}

bool parseTrace(const std::string &text, Trace &trace, std::string &error) {
    trace = Trace{};
    size_t start = 0;
    unsigned line = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        ++line;
        if (end == std::string::npos) {
            // A killed recorder can leave no half line (one write per line),
            // so a missing newline means the file was cut or edited.
            error = "line " + std::to_string(line) + ": the line does not end with a newline";
            return false;
        }
        std::string content = text.substr(start, end - start);
        start = end + 1;
        Value object;
        std::string why;
        if (!parseJson(content, object, why)) {
            error = "line " + std::to_string(line) + ": " + why;
            return false;
        }
        if (object.kind != Value::Kind::Object) {
            error = "line " + std::to_string(line) + ": not a JSON object";
            return false;
        }
        if (line == 1) {
            if (!parseHeader(object, trace.header, why)) {
                error = "line 1: " + why;
                return false;
            }
            continue;
        }
        Record r;
        r.line = line;
        if (!parseRecord(object, r, why)) {
            error = "line " + std::to_string(line) + ": " + why;
            return false;
        }
        trace.records.push_back(std::move(r));
    }
    if (line == 0) {
        error = "line 1: the trace is empty (no header line)";
        return false;
    }
    return true;
}

bool readTrace(const std::string &path, Trace &trace, std::string &error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    if (!parseTrace(buffer.str(), trace, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace zelsim::trace
