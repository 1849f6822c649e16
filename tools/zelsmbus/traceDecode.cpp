#include "traceDecode.h"

#include <zelsmbus.h>

#include <cstdio>
#include <cstring>
#include <istream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include "jsonWriter.h"
#include "protocol/commandTable.h"
#include "utf8Text.h"

namespace zelsmbus_tool {
namespace {

namespace cmd = nZELSMBUS000::command;

// ---- a strict JSON reader, enough for one trace line ---------------------

struct JsonValue {
    enum Type { Null, Bool, Number, String, Array, Object } type = Null;
    bool flag = false;
    bool integer = false;
    int64_t number = 0;
    uint64_t unsignedNumber = 0;
    bool isUnsigned = false;
    std::string text;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    const JsonValue *get(const char *key) const {
        for (const auto &[k, v] : members)
            if (k == key) return &v;
        return nullptr;
    }
};

class JsonReader {
public:
    JsonReader(const std::string &text, size_t line) : text_(text), line_(line) {}

    JsonValue document() {
        JsonValue v = value(0);
        space();
        if (at_ != text_.size()) fail("text after the JSON object");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string &what) {
        throw TraceError(line_, what + " (column " + std::to_string(at_ + 1) + ")");
    }
    void space() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r'))
            ++at_;
    }
    bool take(char c) {
        space();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void expectChar(char c) {
        if (!take(c)) fail(std::string("'") + c + "' expected");
    }

    JsonValue value(int depth) {
        if (depth > 32) fail("nested too deeply");
        space();
        if (at_ >= text_.size()) fail("a value expected");
        JsonValue v;
        const char c = text_[at_];
        if (c == '{') {
            ++at_;
            v.type = JsonValue::Object;
            if (take('}')) return v;
            do {
                space();
                if (at_ >= text_.size() || text_[at_] != '"') fail("a key expected");
                std::string key = string();
                for (const auto &member : v.members)
                    if (member.first == key) fail("key \"" + key + "\" given twice");
                expectChar(':');
                v.members.emplace_back(std::move(key), value(depth + 1));
            } while (take(','));
            expectChar('}');
        } else if (c == '[') {
            ++at_;
            v.type = JsonValue::Array;
            if (take(']')) return v;
            do v.items.push_back(value(depth + 1));
            while (take(','));
            expectChar(']');
        } else if (c == '"') {
            v.type = JsonValue::String;
            v.text = string();
        } else if (text_.compare(at_, 4, "true") == 0 || text_.compare(at_, 5, "false") == 0) {
            v.type = JsonValue::Bool;
            v.flag = c == 't';
            at_ += v.flag ? 4 : 5;
        } else if (text_.compare(at_, 4, "null") == 0) {
            at_ += 4;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            v.type = JsonValue::Number;
            number(v);
        } else {
            fail("a value expected");
        }
        return v;
    }

    void number(JsonValue &v) {
        const size_t start = at_;
        if (text_[at_] == '-') ++at_;
        if (at_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[at_])))
            fail("a number expected");
        if (text_[at_] == '0' && at_ + 1 < text_.size() &&
            std::isdigit(static_cast<unsigned char>(text_[at_ + 1])))
            fail("a number with a leading zero");
        while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
        bool fraction = false;
        if (at_ < text_.size() && text_[at_] == '.') {
            fraction = true;
            ++at_;
            while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])))
                ++at_;
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            fraction = true;
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])))
                ++at_;
        }
        const std::string digits = text_.substr(start, at_ - start);
        v.integer = !fraction;
        if (fraction) return;
        errno = 0;
        if (digits[0] == '-') {
            v.number = std::strtoll(digits.c_str(), nullptr, 10);
        } else {
            v.unsignedNumber = std::strtoull(digits.c_str(), nullptr, 10);
            v.isUnsigned = true;
            v.number = static_cast<int64_t>(v.unsignedNumber);
        }
        if (errno == ERANGE) v.integer = false;
    }

    static void putUtf8(std::string &out, uint32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | cp >> 6);
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | cp >> 12);
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | cp >> 18);
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }

    uint32_t hex4() {
        if (at_ + 4 > text_.size()) fail("a \\u escape cut short");
        uint32_t cp = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = text_[at_++];
            if (!std::isxdigit(static_cast<unsigned char>(h))) fail("a bad \\u escape");
            cp = cp * 16 + uint32_t(std::isdigit(static_cast<unsigned char>(h))
                                        ? h - '0'
                                        : (h | 0x20) - 'a' + 10);
        }
        return cp;
    }

    std::string string() {
        ++at_;  // the opening quote
        std::string out;
        while (true) {
            if (at_ >= text_.size()) fail("a string without its closing quote");
            const unsigned char c = static_cast<unsigned char>(text_[at_]);
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c < 0x20) fail("a control character in a string");
            if (c != '\\') {
                const size_t length = utf8SequenceLength(text_, at_);
                if (length == 0) fail("a string that is not UTF-8");
                out.append(text_, at_, length);
                at_ += length;
                continue;
            }
            if (++at_ >= text_.size()) fail("an escape cut short");
            const char e = text_[at_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    uint32_t cp = hex4();
                    if (cp >= 0xD800 && cp < 0xDC00) {
                        if (text_.compare(at_, 2, "\\u") != 0) fail("a lone surrogate");
                        at_ += 2;
                        const uint32_t low = hex4();
                        if (low < 0xDC00 || low > 0xDFFF) fail("a lone surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        fail("a lone surrogate");
                    }
                    putUtf8(out, cp);
                    break;
                }
                default:
                    fail(std::string("an unknown escape \\") + e);
            }
        }
    }

    const std::string &text_;
    size_t line_;
    size_t at_ = 0;
};

const JsonValue &need(const JsonValue &object, const char *key, JsonValue::Type type, size_t line) {
    const JsonValue *v = object.get(key);
    if (v == nullptr) throw TraceError(line, std::string("key \"") + key + "\" missing");
    if (v->type != type || (type == JsonValue::Number && !v->integer))
        throw TraceError(line, std::string("key \"") + key + "\" has the wrong type");
    return *v;
}

uint64_t needUnsigned(const JsonValue &object, const char *key, size_t line, uint64_t max) {
    const JsonValue &v = need(object, key, JsonValue::Number, line);
    if (!v.isUnsigned || v.unsignedNumber > max)
        throw TraceError(line, std::string("key \"") + key + "\" is out of range");
    return v.unsignedNumber;
}

int64_t needSigned(const JsonValue &object, const char *key, size_t line, int64_t min,
                   int64_t max) {
    const JsonValue &v = need(object, key, JsonValue::Number, line);
    if ((v.isUnsigned && v.unsignedNumber > uint64_t(max)) || v.number < min || v.number > max)
        throw TraceError(line, std::string("key \"") + key + "\" is out of range");
    return v.number;
}

std::vector<uint8_t> needHex(const JsonValue &object, const char *key, size_t line) {
    const std::string &text = need(object, key, JsonValue::String, line).text;
    if (text.size() % 2 != 0)
        throw TraceError(line,
                         std::string("key \"") + key + "\" is not pairs of hexadecimal digits");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        for (size_t k = i; k < i + 2; ++k) {
            const char c = text[k];
            if (c >= '0' && c <= '9') {
                value = value * 16 + unsigned(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value = value * 16 + unsigned(c - 'a' + 10);
            } else {
                throw TraceError(
                    line, std::string("key \"") + key + "\" is not lower-case hexadecimal digits");
            }
        }
        bytes.push_back(uint8_t(value));
    }
    return bytes;
}

// ---- the driver commands, from the library's own table -------------------

enum class Op {
    Other,
    QuickWrite,
    QuickRead,
    SendByte,
    ReceiveByte,
    WriteByte,
    ReadByte,
    WriteWord,
    ReadWord,
    ProcessCall,
    WriteBlock,
    ReadBlock,
    BlockProcessCall,
    WriteBlockI2C,
    ReadBlockI2C,
    ReadEeprom,
    Lock,
    Unlock,
    ReadRegister,
    WriteRegister
};

struct CommandRow {
    const cmd::tCommand *table;
    Op op;
    const char *kind;  // as a protocol analyser names it
};

const CommandRow kRows[] = {
    {&cmd::kGetPciIds, Op::Other, "get PCI identity"},
    {&cmd::kGetPciLocation, Op::Other, "get PCI location"},
    {&cmd::kGetPortFlags, Op::Other, "get port flags"},
    {&cmd::kGetPortString, Op::Other, "get port text"},
    {&cmd::kGetProtectedAddresses, Op::Other, "get protected addresses"},
    {&cmd::kLock, Op::Lock, "lock bus"},
    {&cmd::kUnlock, Op::Unlock, "unlock bus"},
    {&cmd::kQuickWrite, Op::QuickWrite, "quick write"},
    {&cmd::kQuickRead, Op::QuickRead, "quick read"},
    {&cmd::kSendByte, Op::SendByte, "send byte"},
    {&cmd::kReceiveByte, Op::ReceiveByte, "receive byte"},
    {&cmd::kWriteByte, Op::WriteByte, "write byte data"},
    {&cmd::kReadByte, Op::ReadByte, "read byte data"},
    {&cmd::kWriteWord, Op::WriteWord, "write word data"},
    {&cmd::kReadWord, Op::ReadWord, "read word data"},
    {&cmd::kProcessCall, Op::ProcessCall, "process call"},
    {&cmd::kWriteBlock, Op::WriteBlock, "block write"},
    {&cmd::kReadBlock, Op::ReadBlock, "block read"},
    {&cmd::kBlockProcessCall, Op::BlockProcessCall, "block process call"},
    {&cmd::kWriteBlockI2C, Op::WriteBlockI2C, "I2C block write"},
    {&cmd::kReadBlockI2C, Op::ReadBlockI2C, "I2C block read"},
    {&cmd::kReadI2CEEPROM, Op::ReadEeprom, "I2C EEPROM read"},
    {&cmd::kReadRegister, Op::ReadRegister, "read register"},
    {&cmd::kWriteRegister, Op::WriteRegister, "write register"},
    {&cmd::kGetAttribute10001, Op::Other, "get attribute 10001"},
    {&cmd::kSetAttribute10001, Op::Other, "set attribute 10001"},
    {&cmd::kGetAttribute2001, Op::Other, "get attribute 2001"},
    {&cmd::kSetAttribute2001, Op::Other, "set attribute 2001"},
    {&cmd::kGetAttribute10002, Op::Other, "get attribute 10002"},
    {&cmd::kSetAttribute10002, Op::Other, "set attribute 10002"},
    {&cmd::kGetAttribute10003, Op::Other, "get attribute 10003"},
    {&cmd::kSetAttribute10003, Op::Other, "set attribute 10003"},
    {&cmd::kGetAttribute10004, Op::Other, "get attribute 10004"},
    {&cmd::kGetAttribute10005, Op::Other, "get attribute 10005"},
    {&cmd::kSetAttribute10005, Op::Other, "set attribute 10005"},
    {&cmd::kGetAttribute3001, Op::Other, "get attribute 3001"},
    {&cmd::kSetAttribute3001, Op::Other, "set attribute 3001"},
    {&cmd::kGetAttribute1004, Op::Other, "get attribute 1004"},
    {&cmd::kSetAttribute1004, Op::Other, "set attribute 1004"},
    {&cmd::kGetAttribute1005, Op::Other, "get attribute 1005"},
    {&cmd::kSetAttribute1005, Op::Other, "set attribute 1005"},
    {&cmd::kGetAttribute3002, Op::Other, "get attribute 3002"},
    {&cmd::kSetAttribute3002, Op::Other, "set attribute 3002"},
    {&cmd::kGetDeviceString, Op::Other, "get device text"},
};

const CommandRow *rowOf(uint32_t request) {
    for (const CommandRow &row : kRows)
        if (row.table->request == request) return &row;
    return nullptr;
}

// A field of a buffer as a little-endian number (the driver's byte order).
uint64_t fieldValue(const std::vector<uint8_t> &bytes, cmd::tField field) {
    uint64_t value = 0;
    for (unsigned i = 0; i < field.width && i < 8 && field.offset + i < bytes.size(); ++i)
        value |= uint64_t(bytes[field.offset + i]) << (8 * i);
    return value;
}

std::vector<uint8_t> fieldBytes(const std::vector<uint8_t> &bytes, cmd::tField field,
                                size_t count) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < count && i < field.width && field.offset + i < bytes.size(); ++i)
        out.push_back(bytes[field.offset + i]);
    return out;
}

// SMBus packet error code: CRC-8, polynomial x^8 + x^2 + x + 1, over every
// byte of the transaction on the wire.
uint8_t crc8(const std::vector<uint8_t> &bytes) {
    uint8_t crc = 0;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = uint8_t(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

// ---- operations ------------------------------------------------------------

struct Operation {
    // The request (the first of a flash phase) and the last one it covers:
    // a trace is read one request at a time, so an operation keeps its own.
    std::shared_ptr<const TraceRecord> record, last;
    std::string kind;
    std::optional<unsigned> port, address7, command, count, length, offset;
    std::optional<uint32_t> registerOffset, registerValue;
    std::vector<uint8_t> written, read;
    bool pecRequested = false;
    std::string pecRole;  // "sent" or "expected"
    uint8_t pec = 0;
    std::string lockOwner;
    // A flash phase.
    bool phase = false;
    std::string phaseName;
    std::optional<uint32_t> first, lastAddress;
    std::optional<uint32_t> unit;  // block or page number
    size_t requests = 1;
    bool failed = false;
    std::string note;  // an input the table does not expect
};

std::string statusName(int32_t status) {
    const char *name = ZELSMBusStatusName(status);
    if (name) return name;
    char text[48];
    std::snprintf(text, sizeof text, "driver word %d (0x%08x)", status, uint32_t(status));
    return text;
}

std::string errnoName(int value) {
    const char *name = strerrorname_np(value);
    return name ? name : "errno " + std::to_string(value);
}

std::string hexByte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFF);
    return text;
}

std::string hexWord(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

Operation decode(const std::shared_ptr<const TraceRecord> &request, const CommandRow *row) {
    const TraceRecord &r = *request;
    Operation op;
    op.record = op.last = request;
    op.failed = r.errnoValue != 0 || r.status < 0;
    if (row == nullptr) {
        op.kind = "unknown request " + hexWord(r.request, 8);
        return op;
    }
    op.kind = row->kind;
    const cmd::tCommand &t = *row->table;
    if (r.in.size() != t.inputSize)
        op.note = "input of " + std::to_string(r.in.size()) + " bytes, the command takes " +
                  std::to_string(t.inputSize);
    if (t.inputCount > 0 && t.inputs[0].offset == 0 && t.inputs[0].width == 2 && t.inputSize >= 8)
        op.port = unsigned(fieldValue(r.in, t.inputs[0]));
    const bool ok = !op.failed && r.out.size() == t.outputSize;
    auto in = [&](int i) { return fieldValue(r.in, t.inputs[i]); };
    auto out = [&](int i) { return fieldValue(r.out, t.outputs[i]); };
    uint8_t wire = 0;
    switch (row->op) {
        case Op::QuickWrite:
        case Op::QuickRead:
        case Op::SendByte:
        case Op::ReceiveByte:
        case Op::WriteByte:
        case Op::ReadByte:
        case Op::WriteWord:
        case Op::ReadWord:
        case Op::ProcessCall:
        case Op::WriteBlock:
        case Op::ReadBlock:
        case Op::BlockProcessCall:
        case Op::WriteBlockI2C:
        case Op::ReadBlockI2C:
        case Op::ReadEeprom:
            wire = uint8_t(in(1) & 0xFE);
            op.address7 = wire >> 1;
            break;
        default:
            break;
    }
    std::vector<uint8_t> pecBytes;  // the transaction's bytes on the wire
    switch (row->op) {
        case Op::SendByte:
            op.written = {uint8_t(in(2))};
            op.pecRequested = in(3) != 0;
            pecBytes = {wire, uint8_t(in(2))};
            op.pecRole = "sent";
            break;
        case Op::ReceiveByte:
            op.pecRequested = in(2) != 0;
            if (ok) op.read = {uint8_t(out(0))};
            pecBytes = {uint8_t(wire | 1)};
            op.pecRole = "expected";
            break;
        case Op::WriteByte:
            op.command = unsigned(in(2));
            op.written = {uint8_t(in(3))};
            op.pecRequested = in(4) != 0;
            pecBytes = {wire, uint8_t(in(2)), uint8_t(in(3))};
            op.pecRole = "sent";
            break;
        case Op::ReadByte:
            op.command = unsigned(in(2));
            op.pecRequested = in(3) != 0;
            if (ok) op.read = {uint8_t(out(0))};
            pecBytes = {wire, uint8_t(in(2)), uint8_t(wire | 1)};
            op.pecRole = "expected";
            break;
        case Op::WriteWord:
            op.command = unsigned(in(2));
            op.written = {uint8_t(in(3)), uint8_t(in(3) >> 8)};
            op.pecRequested = in(4) != 0;
            pecBytes = {wire, uint8_t(in(2)), op.written[0], op.written[1]};
            op.pecRole = "sent";
            break;
        case Op::ReadWord:
            op.command = unsigned(in(2));
            op.pecRequested = in(3) != 0;
            if (ok) op.read = {uint8_t(out(0)), uint8_t(out(0) >> 8)};
            pecBytes = {wire, uint8_t(in(2)), uint8_t(wire | 1)};
            op.pecRole = "expected";
            break;
        case Op::ProcessCall:
            op.command = unsigned(in(2));
            op.written = {uint8_t(in(3)), uint8_t(in(3) >> 8)};
            op.pecRequested = in(4) != 0;
            if (ok) op.read = {uint8_t(out(0)), uint8_t(out(0) >> 8)};
            pecBytes = {wire, uint8_t(in(2)), op.written[0], op.written[1], uint8_t(wire | 1)};
            op.pecRole = "expected";
            break;
        case Op::WriteBlock:
            op.command = unsigned(in(2));
            op.count = unsigned(in(3));
            op.written = fieldBytes(r.in, t.inputs[4], *op.count);
            op.pecRequested = in(5) != 0;
            pecBytes = {wire, uint8_t(in(2)), uint8_t(*op.count)};
            pecBytes.insert(pecBytes.end(), op.written.begin(), op.written.end());
            op.pecRole = "sent";
            break;
        case Op::ReadBlock:
            op.command = unsigned(in(2));
            op.pecRequested = in(3) != 0;
            pecBytes = {wire, uint8_t(in(2)), uint8_t(wire | 1)};
            if (ok) {
                op.count = unsigned(out(0));
                op.read = fieldBytes(r.out, t.outputs[1], *op.count);
                pecBytes.push_back(uint8_t(*op.count));
            }
            op.pecRole = "expected";
            break;
        case Op::BlockProcessCall:
            op.command = unsigned(in(2));
            op.written = fieldBytes(r.in, t.inputs[4], unsigned(in(3)));
            op.pecRequested = in(5) != 0;
            pecBytes = {wire, uint8_t(in(2)), uint8_t(in(3))};
            pecBytes.insert(pecBytes.end(), op.written.begin(), op.written.end());
            pecBytes.push_back(uint8_t(wire | 1));
            if (ok) {
                op.count = unsigned(out(0));
                op.read = fieldBytes(r.out, t.outputs[1], *op.count);
                pecBytes.push_back(uint8_t(*op.count));
            }
            op.pecRole = "expected";
            break;
        case Op::WriteBlockI2C:
            op.command = unsigned(in(2));
            op.length = unsigned(in(3));
            op.written = fieldBytes(r.in, t.inputs[4], *op.length);
            break;
        case Op::ReadBlockI2C:
            op.command = unsigned(in(2));
            op.length = unsigned(in(3));
            if (ok) op.read = fieldBytes(r.out, t.outputs[0], *op.length);
            break;
        case Op::ReadEeprom:
            op.offset = unsigned(in(2));
            op.length = unsigned(in(3));
            if (ok) op.read = fieldBytes(r.out, t.outputs[0], *op.length);
            break;
        case Op::ReadRegister:
            op.registerOffset = uint32_t(in(1));
            if (ok) op.registerValue = uint32_t(out(0));
            break;
        case Op::WriteRegister:
            op.registerOffset = uint32_t(in(1));
            op.registerValue = uint32_t(in(2));
            break;
        default:
            break;
    }
    if (op.pecRequested) {
        if (op.pecRole == "expected")
            pecBytes.insert(pecBytes.end(), op.read.begin(), op.read.end());
        op.pec = crc8(pecBytes);
    }
    return op;
}

bool isFlashRegister(uint32_t offset) {
    return (offset >= 64 && offset <= 76) || (offset >= 0x2000 && offset <= 0x2014);
}

// ---- flash phases ------------------------------------------------------------

// Groups the register requests of one flash procedure into the steps a
// reader knows: each serial instruction (written to register 64) or
// indirect-port step begins one, status polls and write enables belong to
// the step they serve, and consecutive reads or page programs of adjacent
// addresses are one step.
class PhaseBuilder {
public:
    explicit PhaseBuilder(std::vector<Operation> &out) : out_(out) {}

    void add(const Operation &op) {
        const TraceRecord &r = *op.record;
        if (current_ && (r.pid != current_->record->pid || r.node != current_->record->node))
            flush();
        const uint32_t offset = *op.registerOffset;
        const bool write = op.kind == "write register";
        std::optional<std::pair<std::string, uint32_t>> step;  // name, address
        NodeState &node = nodes_[r.node];
        if (write && offset == 68 && op.registerValue) {
            // Bit 8 keeps the flash selected: the next command word continues the frame.
            node.frameOpen = (*op.registerValue & 0x100) != 0;
        } else if (!write && offset == 76 && node.identifying && op.registerValue) {
            node.flashId = uint16_t(*op.registerValue);
            node.identifying = false;
        }
        if (write && offset == 64 && op.registerValue && !node.frameOpen) {
            const uint32_t word = *op.registerValue;
            node.identifying = (word >> 24) == 0xAB;
            const uint32_t instruction = word >> 24, address = word & 0xFFFFFF;
            switch (instruction) {
                case 0xAB:
                    step = {{"identify", 0}};
                    break;
                case 0xD8:
                    step = {{"erase block", address}};
                    break;
                case 0x02:
                    step = {{"program page", address}};
                    break;
                case 0xAD:
                    step = {{"program (auto-increment)", address}};
                    break;
                case 0x03:
                    step = {{"read/verify", address}};
                    break;
                default:
                    break;  // status, write enable and the like serve the step under way
            }
        } else if (write && offset == 0x2008 && op.registerValue) {
            indirectAddress_ = *op.registerValue;
        } else if (write && offset == 0x2004 && op.registerValue) {
            step = {{"erase sector", *op.registerValue}};
        } else if (write && offset == 0x2010 && op.registerValue) {
            // The boot header's sync word at 0 makes the device start its new firmware.
            if (indirectAddress_ == 0 && *op.registerValue == 0xAA99) {
                step = {{"activation (boot header)", 0}};
            } else if (!current_ || current_->phaseName.rfind("activation", 0) != 0) {
                step = {{"program page", indirectAddress_}};
            }
        } else if (!write && offset == 0x200C) {
            step = {{"read/verify", indirectAddress_}};
        } else if (write && offset == 0x2014 && op.registerValue &&
                   (*op.registerValue == 0x660000 || *op.registerValue == 0x990000)) {
            step = {{"activation (device reset)", 0}};
        }
        if (step && current_ && !continues(step->first, step->second)) flush();
        if (!current_)
            start(op, step ? step->first : "access", step ? step->second : 0, bool(step));
        else
            absorb(op, step ? std::optional<uint32_t>(step->second) : std::nullopt);
    }

    void flush() {
        if (!current_) return;
        Operation &p = *current_;
        if (p.first && (p.phaseName == "erase block" || p.phaseName == "erase sector")) {
            // 0x1010 erases 32 KiB blocks, 0xBF8E 64 KiB blocks, 0x9D17 64 KiB sectors.
            const uint16_t flashId = nodes_[p.record->node].flashId;
            p.unit =
                *p.first / (p.phaseName == "erase block" && flashId == 0x1010 ? 0x8000u : 0x10000u);
        }
        if (p.first && p.phaseName == "program page") p.unit = *p.first / 256;
        out_.push_back(p);
        current_.reset();
    }

private:
    bool continues(const std::string &name, uint32_t address) const {
        const Operation &p = *current_;
        if (p.phaseName == "access") return false;
        if (name != p.phaseName) return false;
        if (name == "read/verify") return true;  // one read of consecutive words
        if (name == "program page")
            return address / 256 == *p.lastAddress / 256 ||
                   address / 256 == *p.lastAddress / 256 + 1;
        return false;
    }
    void start(const Operation &op, const std::string &name, uint32_t address, bool addressed) {
        current_ = Operation();
        Operation &p = *current_;
        p.record = p.last = op.record;
        p.phase = true;
        p.kind = "flash";
        p.phaseName = name;
        p.port = op.port;
        if (addressed && name != "identify" && name.rfind("activation", 0) != 0)
            p.first = p.lastAddress = address;
        p.failed = op.failed;
    }
    void absorb(const Operation &op, std::optional<uint32_t> address) {
        Operation &p = *current_;
        p.last = op.record;
        ++p.requests;
        p.failed = p.failed || op.failed;
        if (address && p.first) p.lastAddress = std::max(*p.lastAddress, *address);
    }

    struct NodeState {
        bool frameOpen = false;    // the serial port keeps the flash selected
        bool identifying = false;  // an identification awaits its answer (register 76)
        uint16_t flashId = 0;      // as the last identification answered
    };

    std::vector<Operation> &out_;
    std::map<std::string, NodeState> nodes_;
    std::optional<Operation> current_;
    uint32_t indirectAddress_ = 0;
};

std::string shortNode(const std::string &node) {
    const std::string prefix = "/proc/driver/zel/";
    return node.rfind(prefix, 0) == 0 ? node.substr(prefix.size()) : node;
}

std::string bytesText(const std::vector<uint8_t> &bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        char h[4];
        std::snprintf(h, sizeof h, "%02x", b);
        text += (text.empty() ? "" : " ") + std::string(h);
    }
    return text;
}

std::string seconds(uint64_t ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%06llu",
                  static_cast<unsigned long long>(ns / 1000000000),
                  static_cast<unsigned long long>(ns % 1000000000 / 1000));
    return text;
}

void printText(std::ostream &out, const Operation &op, uint64_t t0) {
    const TraceRecord &r = *op.record;
    std::string line = seconds(r.tNs - t0) + "  pid " + std::to_string(r.pid);
    if (r.tid != r.pid) line += "/" + std::to_string(r.tid);
    line += "  " + shortNode(r.node);
    if (op.port) line += " port " + std::to_string(*op.port);
    line += "  " + op.kind;
    if (op.phase) {
        const bool pages =
            op.phaseName == "program page" && op.first && *op.lastAddress / 256 != *op.first / 256;
        line += " " + (pages ? std::string("program pages") : op.phaseName);
        if (op.unit) line += " " + std::to_string(*op.unit);
        if (pages) line += "-" + std::to_string(*op.lastAddress / 256);
        if (op.first) {
            line += " at " + hexWord(*op.first, 6);
            if (op.lastAddress && *op.lastAddress != *op.first)
                line += "-" + hexWord(*op.lastAddress, 6);
        }
        line += "  (" + std::to_string(op.requests) + " requests, seq " + std::to_string(r.seq) +
                "-" + std::to_string(op.last->seq) + ")";
    }
    if (op.address7) line += "  addr " + hexByte(*op.address7);
    if (op.command) line += "  cmd " + hexByte(*op.command);
    if (op.offset) line += "  offset " + hexByte(*op.offset);
    if (op.length) line += "  length " + std::to_string(*op.length);
    if (op.registerOffset) line += "  reg " + hexWord(*op.registerOffset, 4);
    if (op.registerValue)
        line += (op.kind == "read register" ? " -> " : " = ") + hexWord(*op.registerValue, 8);
    if (!op.written.empty()) line += "  wrote [" + bytesText(op.written) + "]";
    if (op.count) line += "  count " + std::to_string(*op.count);
    if (!op.read.empty()) line += "  read [" + bytesText(op.read) + "]";
    if (op.pecRequested) {
        line += "  pec " + hexByte(op.pec) + " " + op.pecRole;
        if (r.errnoValue == 0)
            line += r.status == ZELSMBUS_ERROR_CORRUPT_DATA ? " (mismatch)"
                                                            : (r.status >= 0 ? " (correct)" : "");
    }
    if (!op.lockOwner.empty()) line += "  lock " + op.lockOwner;
    const TraceRecord &last = *op.last;
    if (op.phase) {
        line += op.failed ? "  FAILED" : "  ok";
    } else if (r.errnoValue != 0) {
        line += "  " + errnoName(r.errnoValue);
    } else {
        line += "  " + statusName(r.status);
    }
    line += "  " + std::to_string((last.tNs + last.durationNs - r.tNs) / 1000) + " us";
    if (!op.note.empty()) line += "  [" + op.note + "]";
    out << terminalSafe(line) << '\n';
}

void printJson(std::ostream &out, const Operation &op, uint64_t t0) {
    const TraceRecord &r = *op.record;
    JsonWriter json(out);
    json.beginObject()
        .member("seq", int64_t(r.seq))
        .member("t_ns", int64_t(r.tNs))
        .member("time_ns", int64_t(r.tNs - t0))
        .member("pid", r.pid)
        .member("tid", r.tid)
        .member("node", r.node);
    if (op.port) json.member("port", *op.port);
    json.member("kind", op.kind);
    if (op.phase) {
        json.member("phase", op.phaseName);
        if (op.unit) json.member("unit", *op.unit);
        if (op.first)
            json.member("first_address", int64_t(*op.first))
                .member("last_address", int64_t(*op.lastAddress));
        json.member("requests", int64_t(op.requests)).member("last_seq", int64_t(op.last->seq));
        json.member("failed", op.failed);
    } else {
        json.member("name", r.name).member("request", int64_t(r.request));
    }
    if (op.address7) json.member("address", *op.address7);
    if (op.command) json.member("command", *op.command);
    if (op.offset) json.member("offset", *op.offset);
    if (op.length) json.member("length", *op.length);
    if (op.registerOffset) json.member("register", int64_t(*op.registerOffset));
    if (op.registerValue) json.member("value", int64_t(*op.registerValue));
    auto array = [&](const char *key, const std::vector<uint8_t> &bytes) {
        json.key(key).beginArray();
        for (uint8_t b : bytes) json.value(int64_t(b));
        json.endArray();
    };
    if (!op.written.empty()) array("written", op.written);
    if (op.count) json.member("count", *op.count);
    if (!op.read.empty() || (op.count && *op.count == 0)) array("read", op.read);
    if (op.pecRequested) {
        json.key("pec").beginObject().member(op.pecRole, unsigned(op.pec));
        json.key("correct");
        if (r.errnoValue != 0 || (r.status < 0 && r.status != ZELSMBUS_ERROR_CORRUPT_DATA)) {
            json.null();
        } else {
            json.value(r.status >= 0);
        }
        json.endObject();
    }
    if (!op.lockOwner.empty()) json.member("lock_owner", op.lockOwner);
    if (!op.phase) {
        json.member("errno", r.errnoValue);
        if (r.errnoValue != 0) json.member("errno_name", errnoName(r.errnoValue));
        json.key("status").beginObject().member("code", int64_t(r.status));
        const char *name = ZELSMBusStatusName(r.status);
        json.key("name");
        if (name) {
            json.value(name);
        } else {
            json.null();
        }
        json.endObject();
    }
    json.member("duration_ns", int64_t(op.last->tNs + op.last->durationNs - r.tNs));
    if (!op.note.empty()) json.member("note", op.note);
    json.endObject();
    json.finish();
}

}  // namespace

void readTrace(std::istream &in, TraceHeader &header,
               const std::function<void(TraceRecord &&)> &each) {
    uint64_t lastSeq = 0;
    bool any = false;
    std::string text;
    size_t line = 0;
    bool sawHeader = false;
    while (std::getline(in, text)) {
        ++line;
        if (text.empty()) throw TraceError(line, "an empty line");
        const JsonValue v = JsonReader(text, line).document();
        if (v.type != JsonValue::Object) throw TraceError(line, "not a JSON object");
        if (!sawHeader) {
            const JsonValue *format = v.get("format");
            if (format == nullptr || format->type != JsonValue::String ||
                format->text != "zelsim-trace")
                throw TraceError(
                    line, "not a zelsim trace (its first line names no format \"zelsim-trace\")");
            const uint64_t version = needUnsigned(v, "version", line, UINT32_MAX);
            if (version != 1)
                throw TraceError(line, "trace format version " + std::to_string(version) +
                                           " (this zelsmbus reads version 1)");
            header.source = need(v, "source", JsonValue::String, line).text;
            if (header.source != "simulator" && header.source != "driver")
                throw TraceError(line, "key \"source\" must be \"simulator\" or \"driver\"");
            for (const JsonValue &word : need(v, "program", JsonValue::Array, line).items) {
                if (word.type != JsonValue::String)
                    throw TraceError(line, "key \"program\" must hold strings");
                header.program.push_back(word.text);
            }
            header.started = need(v, "started", JsonValue::String, line).text;
            sawHeader = true;
            continue;
        }
        TraceRecord r;
        r.line = line;
        r.seq = needUnsigned(v, "seq", line, UINT64_MAX);
        r.tNs = needUnsigned(v, "t_ns", line, UINT64_MAX);
        r.pid = needSigned(v, "pid", line, 0, INT32_MAX);
        r.tid = needSigned(v, "tid", line, 0, INT32_MAX);
        r.node = need(v, "node", JsonValue::String, line).text;
        r.request = uint32_t(needUnsigned(v, "request", line, UINT32_MAX));
        r.command = uint8_t(needUnsigned(v, "command", line, 0xFF));
        if (r.command != (r.request & 0xFF))
            throw TraceError(line, "key \"command\" is not the low byte of \"request\"");
        r.name = need(v, "name", JsonValue::String, line).text;
        r.in = needHex(v, "in", line);
        r.out = needHex(v, "out", line);
        r.errnoValue = int(needSigned(v, "errno", line, 0, 4095));
        r.status = int32_t(needSigned(v, "status", line, INT32_MIN, INT32_MAX));
        r.durationNs = needUnsigned(v, "duration_ns", line, UINT64_MAX);
        if (r.errnoValue != 0 && (!r.out.empty() || r.status != 0))
            throw TraceError(line, "a failed request (errno " + std::to_string(r.errnoValue) +
                                       ") carries no output bytes and status 0");
        if (any && r.seq <= lastSeq)
            throw TraceError(line, "\"seq\" " + std::to_string(r.seq) + " does not follow " +
                                       std::to_string(lastSeq));
        lastSeq = r.seq;
        any = true;
        each(std::move(r));
    }
    if (!sawHeader) throw TraceError(1, "the trace is empty (its first line is the header)");
}

void printTrace(std::istream &in, std::ostream &out, const TraceOptions &options) {
    // First the whole trace is checked, so that a bad line prints nothing;
    // then it is read again and printed as it goes, a request at a time.
    TraceHeader header;
    size_t count = 0;
    readTrace(in, header, [&](TraceRecord &&) { ++count; });
    in.clear();
    in.seekg(0);
    if (!in)
        throw std::runtime_error("the trace cannot be read a second time (not a regular file)");
    if (!options.json) {
        std::string program;
        for (const std::string &word : header.program)
            program += (program.empty() ? "" : " ") + word;
        out << terminalSafe("# trace of " + program + " (" + header.source + "), started " +
                            header.started + ", " + std::to_string(count) + " requests")
            << '\n';
    }
    uint64_t t0 = 0;
    bool first = true;
    std::vector<Operation> ops;
    PhaseBuilder phases(ops);
    // The bus lock of each node and port: who holds it, as the trace shows.
    std::map<std::pair<std::string, unsigned>, std::string> owners;
    auto emit = [&] {
        for (const Operation &op : ops) {
            if (options.json) {
                printJson(out, op, t0);
            } else {
                printText(out, op, t0);
            }
        }
        ops.clear();
    };
    TraceHeader again;
    readTrace(in, again, [&](TraceRecord &&record) {
        if (first) t0 = record.tNs;
        first = false;
        const auto shared = std::make_shared<const TraceRecord>(std::move(record));
        const TraceRecord &r = *shared;
        const CommandRow *row = rowOf(r.request);
        Operation op = decode(shared, row);
        if (!options.raw && row && op.registerOffset && isFlashRegister(*op.registerOffset)) {
            phases.add(op);
            emit();
            return;
        }
        phases.flush();
        if (row && op.port) {
            const auto key = std::make_pair(r.node, *op.port);
            const std::string self = "pid " + std::to_string(r.pid) +
                                     (r.tid != r.pid ? "/" + std::to_string(r.tid) : "");
            if (row->op == Op::Lock && !op.failed) {
                owners[key] = self;
                op.lockOwner = self;
            } else if (row->op == Op::Unlock) {
                if (owners.count(key)) op.lockOwner = owners[key];
                if (!op.failed) owners.erase(key);
            } else if (owners.count(key)) {
                op.lockOwner = owners[key];
            }
        }
        ops.push_back(op);
        emit();
    });
    phases.flush();
    emit();
}

}  // namespace zelsmbus_tool
