// Reading a world file (TOML) into the simulator's model.
#include <toml++/toml.h>

#include <fcntl.h>

#include <cstdlib>
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
void onlyKeys(const toml::table &table, std::initializer_list<const char *> known) {
    for (const auto &[key, value] : table) {
        bool found = false;
        for (const char *k : known) found = found || key.str() == k;
        if (found) continue;
        std::string list;
        for (const char *k : known) list += std::string(list.empty() ? "" : ", ") + k;
        fail(key.source(), std::string(key.str()), "unknown key (expected one of: " + list + ")");
    }
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

Target readTarget(const toml::table &table) {
    Target target;
    target.address = number<uint8_t>(table, "address", 0, 0xFF) & 0xFE;
    if (table.get("address") == nullptr) fail(table, "address", "a target needs one");
    std::string kind = text(table, "kind");
    if (kind == "eeprom" || kind == "chassis_eeprom") {
        target.kind = TargetKind::Eeprom;
        onlyKeys(table, {"address", "kind", "contents", "page_size"});
        target.pageSize = number<unsigned>(table, "page_size", 16, 256);
        if (target.pageSize == 0 || (target.pageSize & (target.pageSize - 1)) != 0) {
            fail(*table.get("page_size"), "page_size", "must be a power of two from 1 to 256");
        }
        fillContents(table, target.memory);
    } else if (kind == "registers") {
        target.kind = TargetKind::Registers;
        onlyKeys(table, {"address", "kind", "bytes", "words", "blocks"});
        std::vector<uint8_t> bytes = numbers<uint8_t>(table, "bytes", 0xFF);
        std::vector<uint16_t> words = numbers<uint16_t>(table, "words", 0xFFFF);
        if (bytes.size() > 256) fail(*table.get("bytes"), "bytes", "more than 256 registers");
        if (words.size() > 256) fail(*table.get("words"), "words", "more than 256 registers");
        std::copy(bytes.begin(), bytes.end(), target.byteRegisters.begin());
        std::copy(words.begin(), words.end(), target.wordRegisters.begin());
        if (const toml::array *blocks = tableArray(table, "blocks")) {
            for (const toml::node &block : *blocks) {
                const toml::table &b = *block.as_table();
                onlyKeys(b, {"command", "data"});
                uint8_t command = number<uint8_t>(b, "command", 0, 0xFF);
                std::vector<uint8_t> data = numbers<uint8_t>(b, "data", 0xFF);
                if (data.size() > 32) fail(*b.get("data"), "data", "holds more than 32 bytes");
                target.blocks[command] = data;
            }
        }
    } else if (kind == "nack") {
        target.kind = TargetKind::Nack;
        onlyKeys(table, {"address", "kind"});
    } else {
        const toml::node *where = table.get("kind");
        fail(where != nullptr ? *where : static_cast<const toml::node &>(table), "kind",
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
        for (const toml::node &t : *targets) port.targets.push_back(readTarget(*t.as_table()));
    }
    return port;
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
                     "firmware_image_text", "pin_out", "port"});
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
    if (const toml::array *ports = tableArray(table, "port")) {
        for (const toml::node &p : *ports) device.ports.push_back(readPort(*p.as_table()));
    }
    return device;
}

}  // namespace

bool parseWorld(const std::string &source, World &world, std::string &error,
                const std::string &worldFile) {
    try {
        toml::table root = toml::parse(source);
        onlyKeys(root, {"simulator", "device", "chassis"});
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
