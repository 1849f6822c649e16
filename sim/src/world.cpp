// Reading a world file (TOML) into the simulator's model.
#include <fcntl.h>
#include <sys/stat.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>

#include "flashImage.h"
#include "flashModel.h"
#include "model.h"
#include "real.h"

namespace zelsim {
namespace {

struct SchemaError {
    std::string message;
};

// Every schema error names the line and the key it is about.
[[noreturn]] void fail(const toml::source_region &where, const std::string &key,
                       const std::string &message) {
    std::string text = "line " + std::to_string(where.begin.line) + ": ";
    if (!key.empty()) text += "key '" + key + "': ";
    throw SchemaError{text + message};
}

[[noreturn]] void fail(const toml::node &node, const std::string &key, const std::string &message) {
    fail(node.source(), key, message);
}

// Unknown keys are errors: a misspelt optional key would otherwise be
// silently ignored.
template <typename Keys>
void onlyKeys(const toml::table &table, const Keys &known) {
    for (const auto &[key, value] : table) {
        bool found = false;
        for (const char *k : known) found = found || key.str() == k;
        if (found) continue;
        std::string list;
        for (const char *k : known) list += std::string(list.empty() ? "" : ", ") + k;
        fail(key.source(), std::string(key.str()), "unknown key (expected one of: " + list + ")");
    }
}

void onlyKeys(const toml::table &table, std::initializer_list<const char *> known) {
    onlyKeys<std::initializer_list<const char *>>(table, known);
}

template <typename T>
T number(const toml::table &table, const char *key, T fallback, uint64_t max) {
    const toml::node *node = table.get(key);
    if (node == nullptr) return fallback;
    auto value = node->value<int64_t>();
    if (!node->is_integer() || !value || *value < 0 || static_cast<uint64_t>(*value) > max) {
        fail(*node, key, "must be an integer from 0 to " + std::to_string(max));
    }
    return static_cast<T>(*value);
}

std::string text(const toml::table &table, const char *key) {
    const toml::node *node = table.get(key);
    if (node == nullptr) return {};
    auto value = node->value<std::string>();
    if (!value) fail(*node, key, "must be a string");
    return *value;
}

bool flag(const toml::table &table, const char *key) {
    const toml::node *node = table.get(key);
    if (node == nullptr) return false;
    auto value = node->value<bool>();
    if (!value) fail(*node, key, "must be true or false");
    return *value;
}

template <typename T>
std::vector<T> numbers(const toml::table &table, const char *key, uint64_t max) {
    std::vector<T> result;
    const toml::node *node = table.get(key);
    if (node == nullptr) return result;
    const toml::array *array = node->as_array();
    if (array == nullptr) fail(*node, key, "must be an array of integers");
    for (const toml::node &element : *array) {
        auto value = element.value<int64_t>();
        if (!element.is_integer() || !value || *value < 0 || static_cast<uint64_t>(*value) > max) {
            fail(element, key, "holds a value outside 0 to " + std::to_string(max));
        }
        result.push_back(static_cast<T>(*value));
    }
    return result;
}

const toml::array *tableArray(const toml::table &table, const char *key) {
    const toml::node *node = table.get(key);
    if (node == nullptr) return nullptr;
    const toml::array *array = node->as_array();
    if (array == nullptr || !array->is_array_of_tables()) {
        fail(*node, key, std::string("must be an array of tables ([[") + key + "]])");
    }
    return array;
}

// EEPROM contents: a byte list, or "ascii:TEXT", "counter" (byte i holds i),
// "fill:N". Bytes not given hold 0xFF, as in an erased part.
void fillContents(const toml::table &table, std::array<uint8_t, 256> &memory) {
    memory.fill(0xFF);
    const toml::node *node = table.get("contents");
    if (node == nullptr) return;
    if (node->is_array()) {
        std::vector<uint8_t> bytes = numbers<uint8_t>(table, "contents", 0xFF);
        if (bytes.size() > memory.size()) fail(*node, "contents", "holds more than 256 bytes");
        std::copy(bytes.begin(), bytes.end(), memory.begin());
        return;
    }
    std::string pattern = text(table, "contents");
    if (pattern.rfind("ascii:", 0) == 0) {
        std::string body = pattern.substr(6);
        if (body.size() > memory.size()) fail(*node, "contents", "text is longer than 256 bytes");
        std::copy(body.begin(), body.end(), memory.begin());
    } else if (pattern == "counter") {
        for (size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<uint8_t>(i);
    } else if (pattern.rfind("fill:", 0) == 0) {
        char *end = nullptr;
        unsigned long value = std::strtoul(pattern.c_str() + 5, &end, 0);
        if (*end != '\0' || value > 0xFF) fail(*node, "contents", "fill value must be a byte");
        memory.fill(static_cast<uint8_t>(value));
    } else {
        fail(*node, "contents", "must be a byte list, \"ascii:...\", \"counter\" or \"fill:N\"");
    }
}

// A target's address: `address` in the 8-bit form the library passes
// (bit 0, the read/write bit, clear), or `address7` in the 7-bit form the
// tool shows. Every message names the form it is about.
uint8_t readAddress(const toml::table &table) {
    const toml::node *eight = table.get("address");
    const toml::node *seven = table.get("address7");
    if (eight != nullptr && seven != nullptr)
        fail(*seven, "address7",
             "give either 'address' (8-bit form) or 'address7' (7-bit form), not both");
    if (seven != nullptr)
        return static_cast<uint8_t>(number<uint8_t>(table, "address7", 0, 0x7F) << 1);
    if (eight == nullptr)
        fail(table, "address",
             "a target needs one ('address' in 8-bit form, e.g. 0xA0, or 'address7' in 7-bit form, "
             "e.g. 0x50)");
    const auto value = eight->value<int64_t>();
    if (!eight->is_integer() || !value || *value < 0 || *value > 0xFE || (*value & 1) != 0) {
        std::string hint;
        if (eight->is_integer() && value && *value >= 0 && *value <= 0x7F) {
            char text[96];
            std::snprintf(
                text, sizeof text,
                " (for the 7-bit address 0x%02llX write address = 0x%02llX or address7 = 0x%02llX)",
                static_cast<unsigned long long>(*value),
                static_cast<unsigned long long>(*value) << 1,
                static_cast<unsigned long long>(*value));
            hint = text;
        }
        fail(*eight, "address", "must be an 8-bit address: an even integer from 0 to 0xFE" + hint);
    }
    return static_cast<uint8_t>(*value);
}

const char *const kTargetKeys[] = {"address", "address7", "kind",  "contents", "page_size",
                                   "layout",  "bytes",    "words", "blocks"};

// Keys of one target kind; every other key of kTargetKeys is refused for it.
void onlyTargetKeys(const toml::table &table, const std::string &kind,
                    std::initializer_list<const char *> allowed) {
    for (const auto &[key, value] : table) {
        bool ok = false;
        for (const char *k : allowed) ok = ok || key.str() == k;
        if (!ok)
            fail(key.source(), std::string(key.str()), "not a key of a \"" + kind + "\" target");
    }
}

// Register contents: "bytes" for the byte layout, "words" for 16-bit
// registers; blocks place their data from their command on and set the
// length an SMBus block read of that command answers.
void readRegisters(const toml::table &table, Target &target) {
    const std::string layout = table.get("layout") ? text(table, "layout") : "bytes";
    if (layout == "bytes") {
        target.layout = RegisterLayout::Bytes;
        onlyTargetKeys(table, "registers\" with layout \"bytes",
                       {"address", "address7", "kind", "layout", "bytes", "blocks"});
        std::vector<uint8_t> bytes = numbers<uint8_t>(table, "bytes", 0xFF);
        if (bytes.size() > 256) fail(*table.get("bytes"), "bytes", "more than 256 registers");
        std::copy(bytes.begin(), bytes.end(), target.registers.begin());
    } else if (layout == "words_msb_first") {
        target.layout = RegisterLayout::WordsMsbFirst;
        onlyTargetKeys(table, "registers\" with layout \"words_msb_first",
                       {"address", "address7", "kind", "layout", "words", "blocks"});
        std::vector<uint16_t> words = numbers<uint16_t>(table, "words", 0xFFFF);
        if (words.size() > 256) fail(*table.get("words"), "words", "more than 256 registers");
        for (size_t k = 0; k < words.size(); ++k)
            setWordRegister(target, static_cast<unsigned>(k), words[k]);
    } else {
        fail(*table.get("layout"), "layout", "must be \"bytes\" or \"words_msb_first\"");
    }
    const toml::array *blocks = tableArray(table, "blocks");
    if (blocks == nullptr) return;
    for (const toml::node &block : *blocks) {
        const toml::table &b = *block.as_table();
        onlyKeys(b, {"command", "data"});
        const uint8_t command = number<uint8_t>(b, "command", 0, 0xFF);
        std::vector<uint8_t> data = numbers<uint8_t>(b, "data", 0xFF);
        if (data.size() > 32) fail(*b.get("data"), "data", "holds more than 32 bytes");
        for (size_t i = 0; i < data.size(); ++i) {
            uint8_t &cell = registerByte(target, command, static_cast<unsigned>(i));
            // A block is the registers from its command on: it may repeat
            // what "bytes"/"words" say, never contradict it.
            if (cell != 0 && cell != data[i])
                fail(block, "blocks", "block data contradicts the registers it covers");
            cell = data[i];
        }
        target.blockLengths[command] = static_cast<uint8_t>(data.size());
    }
}

Target readTarget(const toml::table &table) {
    // A misspelt key is named at its own line before anything else is asked of the table.
    onlyKeys(table, kTargetKeys);
    Target target;
    target.address = readAddress(table);
    if (table.get("kind") == nullptr)
        fail(table, "kind",
             "a target needs one: \"eeprom\", \"chassis_eeprom\", \"registers\" or \"nack\"");
    std::string kind = text(table, "kind");
    if (kind == "eeprom" || kind == "chassis_eeprom") {
        target.kind = TargetKind::Eeprom;
        onlyTargetKeys(table, kind, {"address", "address7", "kind", "contents", "page_size"});
        target.pageSize = number<unsigned>(table, "page_size", 16, 256);
        if (target.pageSize == 0 || (target.pageSize & (target.pageSize - 1)) != 0) {
            fail(*table.get("page_size"), "page_size", "must be a power of two from 1 to 256");
        }
        fillContents(table, target.memory);
    } else if (kind == "registers") {
        target.kind = TargetKind::Registers;
        readRegisters(table, target);
    } else if (kind == "nack") {
        target.kind = TargetKind::Nack;
        onlyTargetKeys(table, kind, {"address", "address7", "kind"});
    } else {
        fail(*table.get("kind"), "kind",
             "must be \"eeprom\", \"chassis_eeprom\", \"registers\" or \"nack\"");
    }
    return target;
}

void readAttributes(const toml::table &table, PortAttributes &a) {
    const toml::node *node = table.get("attributes");
    if (node == nullptr) return;
    const toml::table *attributes = node->as_table();
    if (attributes == nullptr) fail(*node, "attributes", "must be a table");
    for (const auto &[key, value] : *attributes) {
        auto v = value.value<int64_t>();
        std::string id(key.str());
        if (!value.is_integer() || !v || *v < 0 || *v > 0xFFFFFFFFll)
            fail(value, "attributes." + id, "must be an integer from 0 to 4294967295");
        uint32_t x = static_cast<uint32_t>(*v);
        // Keys are attribute numbers written plainly ("1004", not "01004").
        const unsigned long number = std::strtoul(id.c_str(), nullptr, 10);
        const bool known = number <= 0xFFFFFFFFul && std::to_string(number) == id &&
                           visitAttribute(a, static_cast<unsigned>(number),
                                          [&](auto &field) { storeAttribute(field, x); });
        if (!known) fail(key.source(), "attributes." + id, "unknown port attribute");
    }
}

Port readPort(const toml::table &table) {
    onlyKeys(table, {"text", "chassis_eeprom", "extended_protection", "protected", "chassis",
                     "attributes", "target"});
    Port port;
    port.text = text(table, "text");
    port.chassisEeprom = flag(table, "chassis_eeprom");
    port.extendedProtection = flag(table, "extended_protection");
    port.protectedAddresses = numbers<uint8_t>(table, "protected", 0xFF);
    if (port.protectedAddresses.size() > 32)
        fail(*table.get("protected"), "protected", "a port protects at most 32 addresses");
    port.chassis = number<uint32_t>(table, "chassis", 0, 0xFFFFFFFFu);
    readAttributes(table, port.attributes);
    if (const toml::array *targets = tableArray(table, "target")) {
        for (const toml::node &t : *targets) {
            Target target = readTarget(*t.as_table());
            for (size_t i = 0; i < port.targets.size(); ++i) {
                if (port.targets[i].address != target.address) continue;
                char text[128];
                std::snprintf(text, sizeof text,
                              "0x%02X (7-bit 0x%02X) already has a target on this port (line %u)",
                              target.address, target.address >> 1,
                              static_cast<unsigned>((*targets)[i].source().begin.line));
                const toml::table &where = *t.as_table();
                const char *key = where.get("address") != nullptr ? "address" : "address7";
                fail(*where.get(key), key, text);
            }
            port.targets.push_back(target);
        }
    }
    return port;
}

// The flash array, whole: runs of bytes as hexadecimal text from an address;
// everything else erased (0xFF). What `zelsim snapshot` writes.
void readFlashArray(const toml::table &table, RegisterIdentity &identity) {
    const toml::node *node = table.get("flash_contents");
    if (node == nullptr) return;
    const toml::array *runs = node->as_array();
    if (runs == nullptr)
        fail(*node, "flash_contents", "must be an array of { address, hex } tables");
    identity.flashContentsGiven = true;
    for (const toml::node &run : *runs) {
        if (!run.is_table())
            fail(run, "flash_contents", "must be an array of { address, hex } tables");
        const toml::table &r = *run.as_table();
        onlyKeys(r, {"address", "hex"});
        const uint32_t address = number<uint32_t>(r, "address", 0, 0xFFFFFFFFu);
        const std::string hex = text(r, "hex");
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i + 1 < hex.size(); i += 2) {
            char pair[3] = {hex[i], hex[i + 1], 0};
            char *end = nullptr;
            bytes.push_back(static_cast<uint8_t>(std::strtoul(pair, &end, 16)));
            if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(pair[0])))
                fail(*r.get("hex"), "hex", "must be pairs of hexadecimal digits");
        }
        if (hex.size() % 2 != 0) fail(*r.get("hex"), "hex", "must be pairs of hexadecimal digits");
        identity.flashContents.emplace_back(address, std::move(bytes));
    }
}

// Flash contents: firmware_image (a file, relative to the world file's
// folder) or firmware_image_text (the image itself), installed as an update
// leaves it; pin_out = { address, version } writes the pin-out byte after it.
void readFlashContents(const toml::table &table, const std::string &folder, RegisterIdentity &id) {
    const char *key = table.get("firmware_image") ? "firmware_image" : "firmware_image_text";
    if (const toml::node *node = table.get(key)) {
        if (table.get("firmware_image") && table.get("firmware_image_text"))
            fail(*node, key, "give firmware_image or firmware_image_text, not both");
        std::string image = text(table, key);
        if (key == std::string("firmware_image")) {
            const std::string path = image.empty() || image[0] == '/' ? image : folder + image;
            const int fd = real::open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
            if (fd < 0) fail(*node, key, "cannot read " + path);
            image.clear();
            char chunk[65536];
            for (ssize_t n; (n = real::read(fd, chunk, sizeof chunk)) > 0;) image.append(chunk, size_t(n));
            real::close(fd);
        }
        FlashImage parsed;
        std::string error;
        if (!readFlashImage(image, parsed, error)) fail(*node, key, error);
        uint32_t base = 0, size = 0;
        if (!FlashModel::firmwareRegion(id.flashId, parsed.offset, base, size))
            fail(*node, key, "the flash_id has no firmware region at the image's Offset");
        if (parsed.bytes.size() > (id.flashId == 0xBF8E ? size - 2 : size))
            fail(*node, key, "the image does not fit the firmware region");
        id.hasFirmware = true;
        id.firmwareOffset = parsed.offset;
        id.firmware = std::move(parsed.bytes);
        if (!table.get("firmware_version")) id.firmwareVersion = parsed.version;
    }
    if (const toml::node *node = table.get("pin_out")) {
        const toml::table *pinOut = node->as_table();
        if (pinOut == nullptr || !pinOut->get("address") || !pinOut->get("version"))
            fail(*node, "pin_out", "must be a table { address = ..., version = ... }");
        onlyKeys(*pinOut, {"address", "version"});
        id.hasPinOut = true;
        id.pinOutAddress = number<uint32_t>(*pinOut, "address", 0, FlashModel::arraySize(id.flashId) - 1u);
        id.pinOutVersion = number<uint8_t>(*pinOut, "version", 0, 0xFF);
    }
}

Device readDevice(const toml::table &table, const std::string &folder) {
    onlyKeys(table, {"instance", "vendor_id", "device_id", "subsystem_vendor_id", "subsystem_id",
                     "bus", "device", "function", "device_string", "refuse_device_string",
                     "flash_id", "signature", "firmware_version", "firmware_image",
                     "firmware_image_text", "pin_out", "flash_contents", "port"});
    Device device;
    device.instance = table.get("instance") ? text(table, "instance") : "zel0";
    if (device.instance.empty() || device.instance.find('/') != std::string::npos) {
        fail(*table.get("instance"), "instance", "must be a plain directory name");
    }
    device.vendorId = number<uint16_t>(table, "vendor_id", 0, 0xFFFF);
    device.deviceId = number<uint16_t>(table, "device_id", 0, 0xFFFF);
    device.subsystemVendorId = number<uint16_t>(table, "subsystem_vendor_id", 0, 0xFFFF);
    device.subsystemId = number<uint16_t>(table, "subsystem_id", 0, 0xFFFF);
    device.bus = number<uint16_t>(table, "bus", 0, 0xFFFF);
    device.device = number<uint16_t>(table, "device", 0, 0xFFFF);
    device.function = number<uint16_t>(table, "function", 0, 0xFFFF);
    device.deviceString = text(table, "device_string");
    device.identity.flashId = number<uint16_t>(table, "flash_id", 0, 0xFFFF);
    device.identity.signature = number<uint32_t>(table, "signature", 0x727EBABE, 0xFFFFFFFFu);
    device.identity.firmwareVersion = number<uint32_t>(table, "firmware_version", 0, 0xFFFFFFFFu);
    device.identity.subsystemId = device.subsystemId;
    readFlashContents(table, folder, device.identity);
    if (flag(table, "refuse_device_string")) device.refuseDeviceStringErrno = 25;  // ENOTTY
    readFlashArray(table, device.identity);
    if (const toml::array *ports = tableArray(table, "port")) {
        for (const toml::node &p : *ports) device.ports.push_back(readPort(*p.as_table()));
    }
    return device;
}

}  // namespace

// A world file's text, or the system's reason why it cannot be read (a
// directory, no permission) or that it holds nothing.
bool readWorldFile(const char *path, std::string &text, std::string &error) {
    if (path == nullptr) {
        error = "no world file named";
        return false;
    }
    const int fd = real::open(path, O_RDONLY | O_CLOEXEC, 0);
    struct stat info {};
    int err = fd < 0 ? errno : (::fstat(fd, &info) != 0 ? errno : 0);
    if (err == 0 && S_ISDIR(info.st_mode)) err = EISDIR;
    text.clear();
    char chunk[4096];
    while (err == 0) {
        const ssize_t n = real::read(fd, chunk, sizeof chunk);
        if (n == 0) break;
        if (n < 0 && errno != EINTR) err = errno;
        if (n > 0) text.append(chunk, static_cast<size_t>(n));
    }
    if (fd >= 0) real::close(fd);
    if (err != 0) {
        error = std::string("cannot read the file: ") + std::strerror(err);
        return false;
    }
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        error = "the file is empty (a world file describes at least its [[device]] tables)";
        return false;
    }
    return true;
}

bool parseWorld(const std::string &source, World &world, std::string &error,
                const std::string &worldFile) {
    try {
        toml::table root = toml::parse(source);
        onlyKeys(root, {"format_version", "simulator", "device", "chassis"});
        // The format's version, written by the programs that make world files
        // (zelsim snapshot, zelsmbus capture); a file without it is version 1.
        if (const toml::node *version = root.get("format_version")) {
            const auto value = version->value<int64_t>();
            if (!version->is_integer() || !value || *value != kWorldFormatVersion)
                fail(*version, "format_version",
                     "must be " + std::to_string(kWorldFormatVersion) +
                         ", the version this zelsim reads");
        }
        World result;
        if (const toml::node *node = root.get("simulator")) {
            const toml::table *sim = node->as_table();
            if (sim == nullptr) fail(*node, "simulator", "must be a table ([simulator])");
            onlyKeys(*sim, {"lock_timeout_ms", "virtual_time"});
            result.lockTimeoutMs = number<unsigned>(*sim, "lock_timeout_ms", 100, 600000);
            result.virtualTime = sim->get("virtual_time") ? flag(*sim, "virtual_time") : true;
        }
        const size_t slash = worldFile.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : worldFile.substr(0, slash + 1);
        if (const toml::array *devices = tableArray(root, "device")) {
            for (const toml::node &d : *devices)
                result.devices.push_back(readDevice(*d.as_table(), folder));
        }
        if (const toml::array *chassis = tableArray(root, "chassis")) {
            for (const toml::node &c : *chassis) {
                const toml::table &t = *c.as_table();
                onlyKeys(t, {"number", "model", "vendor", "serial", "slot1"});
                Chassis entry;
                entry.number = number<uint32_t>(t, "number", 0, 0xFFFFFFFFu);
                entry.model = text(t, "model");
                entry.vendor = text(t, "vendor");
                entry.serial = text(t, "serial");
                entry.slot1 = text(t, "slot1");
                result.chassis.push_back(entry);
            }
        }
        for (Device &device : result.devices) {
            device.registers = std::make_unique<RegisterSpace>(device.identity);
        }
        placeChassisEeproms(result);
        world = std::move(result);
        return true;
    } catch (const toml::parse_error &e) {
        std::ostringstream message;
        message << "line " << e.source().begin.line << ": " << e.description();
        error = message.str();
    } catch (const SchemaError &e) {
        error = e.message;
    } catch (const std::exception &e) {
        error = e.what();
    }
    return false;
}

}  // namespace zelsim
