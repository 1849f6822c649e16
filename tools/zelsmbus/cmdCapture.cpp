// zelsmbus capture: the controllers, ports, devices and chassis a system shows
// through the library, written as a world file the simulator loads.
//
// Everything is read through the library's exports (so it runs against the
// real driver as well) and only read: the bus is surveyed with detect's own
// probes, devices with read transactions, the flash (with --flash) with the
// tool's own flash reads. A value that cannot be read is named in the file
// and on the standard error stream, and the command then ends with status 1.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zelsmbus.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "attributeTable.h"
#include "boardPinOut.h"
#include "commands.h"
#include "detectProbe.h"
#include "failure.h"
#include "firmwareJournal.h"
#include "flash/flashChips.h"
#include "flashWriterLock.h"
#include "options.h"
#include "session.h"
#include "statusText.h"
#include "utf8Text.h"

namespace zelsmbus_tool {
// Its own namespace: the command files are compiled as one unit.
namespace capture {
namespace {

// The library adds these (8-bit) addresses to the protected list of a port
// that has both the chassis EEPROM and extended protection: the driver's own
// list is the rest.
constexpr uint8_t kLibraryProtected[5] = {0x58, 0x5A, 0x5C, 0xC6, 0xC8};
constexpr uint8_t kChassisEeprom7 = 0x52;
// Chassis EEPROM fields the chassis-query library reports (offset, length).
struct Field {
    const char *name;
    unsigned offset, length;
};
constexpr Field kModel{"model", 5, 60}, kVendor{"vendor", 65, 40}, kSerial{"serial", 106, 13};
constexpr const char *kRedacted = "REDACTED";

struct CaptureArgs {
    std::vector<std::string> resources;
    std::string output;
    bool flash = false, redact = false;
    std::string pinOutAddress = "0x20000", offset = "0";
};

std::string hex(unsigned value, int digits = 2) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// A TOML basic string. TOML strings are UTF-8: a byte that is not is written
// as the code point of its value and reported by the caller (bad = true).
std::string tomlString(const std::string &text, bool &bad) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        const size_t length = utf8SequenceLength(text, at);
        if (length == 0) {
            bad = true;
            out += "\\u00" + hex(c).substr(2);
            ++at;
            continue;
        }
        if (length > 1) {
            out.append(text, at, length);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00" + hex(c).substr(2);
        } else {
            out += char(c);
        }
        at += length;
    }
    return out + "\"";
}

bool isUtf8(const std::string &text) {
    for (size_t at = 0; at < text.size();) {
        const size_t length = utf8SequenceLength(text, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string byteList(const uint8_t *bytes, size_t count) {
    std::string out = "[";
    for (size_t i = 0; i < count; ++i)
        out += (i ? (i % 16 ? ", " : ",\n      ") : "") + hex(bytes[i]);
    return out + "]";
}

// The text in a chassis EEPROM field: up to its first zero byte.
std::string fieldText(const std::array<uint8_t, 256> &eeprom, const Field &field) {
    std::string text;
    for (unsigned i = 0; i < field.length && eeprom[field.offset + i] != 0; ++i)
        text += char(eeprom[field.offset + i]);
    return text;
}

void redactField(std::array<uint8_t, 256> &eeprom, const Field &field) {
    std::fill_n(eeprom.begin() + field.offset, field.length, 0);
    std::memcpy(eeprom.data() + field.offset, kRedacted, std::strlen(kRedacted));
}

// Progress on the standard error stream, on a terminal only: one line that
// is rewritten as the survey moves on.
class Progress {
public:
    Progress() : shown_(isatty(STDERR_FILENO) == 1) {}
    ~Progress() { clear(); }
    void show(const std::string &text) {
        if (!shown_) return;
        std::cerr << "\r\033[Kcapture: " << terminalSafe(text) << std::flush;
        dirty_ = true;
    }
    void clear() {
        if (dirty_) std::cerr << "\r\033[K" << std::flush;
        dirty_ = false;
    }

private:
    bool shown_;
    bool dirty_ = false;
};

enum class Kind { Eeprom, ChassisEeprom, Registers };

struct Target {
    uint8_t address7 = 0;
    Kind kind = Kind::Registers;
    std::array<uint8_t, 256> bytes{};  // EEPROM contents, or byte registers
    bool words = false;                // 16-bit registers sent most significant byte first
    std::array<uint16_t, 256> wordValues{};
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> blocks;
    std::string source;
};

struct Port {
    std::string resource;
    uint16_t ids[4] = {}, location[3] = {}, index = 0;
    std::string portText, deviceText;
    uint32_t chassisFlag = 0, extendedProtection = 0;
    std::vector<uint8_t> protected8;  // the driver's list, 8-bit
    bool libraryAddedProtected = false;
    uint32_t firmwareVersion = 0;
    bool firmwareVersionRead = false;
    std::map<uint32_t, uint32_t> settings;  // 1005, 2001
    std::string configFlag;                 // attribute 1006 as read, for the comment
    std::optional<uint32_t> configFlagValue;
    std::vector<Target> targets;
    std::vector<uint8_t> skipped;  // protected addresses, not probed
    uint32_t chassis = 0;
    std::string chassisSource;
};

struct Flash {
    bool read = false;
    uint16_t flashId = 0;
    uint32_t signature = 0;
    bool signatureRead = false;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> runs;  // address, bytes
    std::vector<std::string> notes;
};

struct Device {
    std::vector<Port> ports;  // by port index
    Flash flash;
};

struct ChassisEntry {
    uint32_t number = 0;
    std::string model, vendor, serial, resource;
};

class Capture {
public:
    explicit Capture(const CaptureArgs &args) : args_(args) {
        pinOutAddress_ = parseNumber(args.pinOutAddress, 0xFFFFFFFFu, "pin-out address");
        offset_ = parseNumber(args.offset, 0xFFFFFFFFu, "flash offset");
    }

    void run();
    std::string world() const;
    const std::vector<std::string> &problems() const { return problems_; }

private:
    // Something that could not be read: named in the file and on stderr.
    void problem(const std::string &what, std::optional<int32_t> code = std::nullopt) {
        std::string text = what;
        if (code) text += ": " + formatStatus(*code);
        progress_.clear();
        std::cerr << "zelsmbus: " << terminalSafe(text) << '\n';
        problems_.push_back(text);
    }
    bool ok(int32_t status, const std::string &what) {
        if (status >= 0) return true;
        problem(what, status);
        return false;
    }

    void surveyPort(const std::string &resource);
    void surveyBus(const Session &session, Port &port);
    void readTarget(const Session &session, Port &port, uint8_t address7);
    void readFlash(const std::string &resource, Device &device);
    void readChassis(const std::string &resource);
    Device &deviceOf(const Port &port);

    const CaptureArgs &args_;
    uint32_t pinOutAddress_ = 0, offset_ = 0;
    Progress progress_;
    std::vector<std::string> problems_;
    std::vector<Device> devices_;
    std::vector<ChassisEntry> chassis_;
    std::vector<std::string> names_;
};

std::vector<std::string> listResources() {
    char *list = ZELSMBusGetResourceNameList();
    if (!list) {
        throw ToolError(
            "cannot list the resources: the driver or the chassis-query library "
            "(libzelqpxi.so.1) did not answer");
    }
    std::vector<std::string> names;
    for (const char *name = list; *name; name += names.back().size() + 1) names.emplace_back(name);
    ZELSMBusPutResourceNameList(list);
    return names;
}

bool isBackplane(const std::string &name) {
    return name.size() > 11 && name.compare(name.size() - 11, 11, "::BACKPLANE") == 0;
}

bool samePort(const Port &a, const Port &b) {
    return std::equal(a.ids, a.ids + 4, b.ids) &&
           std::equal(a.location, a.location + 3, b.location);
}

Device &Capture::deviceOf(const Port &port) {
    for (Device &device : devices_) {
        if (samePort(device.ports.front(), port)) return device;
    }
    devices_.emplace_back();
    return devices_.back();
}

void Capture::run() {
    names_ = listResources();
    std::vector<std::string> chosen;
    if (args_.resources.empty()) {
        chosen = names_;
    } else {
        chosen = args_.resources;
    }
    // Ports first, so that a backplane name finds the port it opens.
    std::vector<std::string> backplanes;
    for (const std::string &name : chosen) {
        if (isBackplane(name)) {
            backplanes.push_back(name);
        } else {
            surveyPort(name);
        }
    }
    for (const std::string &name : backplanes) readChassis(name);
    if (args_.flash) {
        for (Device &device : devices_) readFlash(device.ports.front().resource, device);
    }
    progress_.clear();
}

void Capture::surveyPort(const std::string &resource) {
    progress_.show(resource + ": attributes");
    std::optional<Session> session;
    try {
        session.emplace(resource, false);
    } catch (const ToolError &e) {
        problem(e.what(), e.code());
        return;
    }
    tSMBusHandle *handle = session->handle();
    Port port;
    port.resource = resource;
    const std::string what = "cannot read attribute ";
    const uint32_t idAttributes[8] = {
        ZELSMBUS_ATTR_VENDOR_ID,    ZELSMBUS_ATTR_DEVICE_ID, ZELSMBUS_ATTR_SUBSYSTEM_VENDOR_ID,
        ZELSMBUS_ATTR_SUBSYSTEM_ID, ZELSMBUS_ATTR_PCI_BUS,   ZELSMBUS_ATTR_PCI_DEVICE,
        ZELSMBUS_ATTR_PCI_FUNCTION, ZELSMBUS_ATTR_PORT};
    uint16_t *targets[8] = {&port.ids[0],      &port.ids[1],      &port.ids[2],      &port.ids[3],
                            &port.location[0], &port.location[1], &port.location[2], &port.index};
    bool identity = true;
    for (int i = 0; i < 8; ++i) {
        identity = ok(ZELSMBusGetAttribute(handle, idAttributes[i], targets[i]),
                      what + std::to_string(idAttributes[i]) + " of " + resource) &&
                   identity;
    }
    if (!identity) {
        problem("left out " + resource + ": without its PCI identity and port it has no place");
        return;
    }
    try {
        port.portText = session->text(ZELSMBUS_ATTR_PORT_STRING);
        port.deviceText = session->text(ZELSMBUS_ATTR_DEVICE_STRING);
    } catch (const ToolError &e) {
        problem(e.what(), e.code());
    }
    // A world file's texts are UTF-8: other bytes cannot be given back as they are.
    for (const auto &[text, attribute] :
         {std::pair<const std::string &, const char *>{port.portText, "301"},
          {port.deviceText, "302"}}) {
        if (!isUtf8(text))
            problem(
                "attribute " + std::string(attribute) + " of " + resource +
                " holds bytes that are not UTF-8: each is written as the character of its value");
    }
    ok(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_CHASSIS_EEPROM_PORT, &port.chassisFlag),
       what + "1002 of " + resource);
    ok(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_EXTENDED_PROTECTION, &port.extendedProtection),
       what + "1003 of " + resource);
    port.firmwareVersionRead =
        ok(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_FIRMWARE_VERSION, &port.firmwareVersion),
           what + "303 of " + resource);
    uint8_t count = 0;
    uint64_t list = 0;
    if (ok(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PROTECTED_COUNT, &count),
           what + "401 of " + resource) &&
        ok(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PROTECTED_LIST, &list),
           what + "402 of " + resource)) {
        const auto *wire = reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(list));
        for (unsigned i = 0; wire && i < count; ++i) port.protected8.push_back(wire[i]);
        const size_t fixed = sizeof kLibraryProtected;
        if (port.chassisFlag && port.extendedProtection && port.protected8.size() >= fixed &&
            std::equal(port.protected8.end() - long(fixed), port.protected8.end(),
                       kLibraryProtected)) {
            port.protected8.resize(port.protected8.size() - fixed);
            port.libraryAddedProtected = true;
        }
    }
    for (uint32_t id : {uint32_t(ZELSMBUS_ATTR_1005), uint32_t(ZELSMBUS_ATTR_2001)}) {
        uint32_t value = 0;
        if (ok(ZELSMBusGetAttribute(handle, id, &value),
               what + std::to_string(id) + " of " + resource))
            port.settings[id] = value;
    }
    uint32_t flag = 0;
    const int32_t flagStatus = ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &flag);
    if (flagStatus >= 0) {
        port.configFlag = std::to_string(flag);
        port.configFlagValue = flag;
        // Without the flash, the simulator's 0x1010 stands in, its flag clear.
        if (!args_.flash && flag != 0)
            problem("attribute 1006 of " + resource +
                    " is set: it lives in flash block 2, which only --flash reads (the world's "
                    "flag is clear)");
    } else if (flagStatus == ZELSMBUS_ERROR_NOT_SUPPORTED) {
        port.configFlag = "not supported by this controller";
    } else {
        problem(what + "1006 of " + resource, flagStatus);
        port.configFlag = "could not be read";
    }
    surveyBus(*session, port);
    Device &device = deviceOf(port);
    device.ports.push_back(std::move(port));
    std::sort(device.ports.begin(), device.ports.end(),
              [](const Port &a, const Port &b) { return a.index < b.index; });
}

void Capture::surveyBus(const Session &session, Port &port) {
    std::vector<uint8_t> protectedList;
    try {
        protectedList = session.protectedAddresses();
    } catch (const ToolError &) {
        // already named with attribute 401/402
    }
    ScanBudget budget;
    std::vector<uint8_t> found;
    for (unsigned address = kDetectFirst; address <= kDetectLast; ++address) {
        const uint8_t a7 = uint8_t(address);
        if (std::find(protectedList.begin(), protectedList.end(), a7) != protectedList.end()) {
            port.skipped.push_back(a7);
            continue;
        }
        progress_.show(port.resource + ": probing " + hex(a7));
        const int32_t status = budget.run([&] {
            if (probeWithRead(a7)) {
                uint8_t data = 0;
                return ZELSMBusReceiveByte(session.handle(), toWire(a7), 0, &data);
            }
            return ZELSMBusQuickWrite(session.handle(), toWire(a7));
        });
        if (status >= 0) {
            found.push_back(a7);
        } else if (!isNoAcknowledgement(status)) {
            problem("cannot probe " + port.resource + ", address " + hex(a7), status);
        }
    }
    for (uint8_t a7 : found) readTarget(session, port, a7);
    // The chassis EEPROM is readable on its port even where its address is protected.
    if (port.chassisFlag && std::find(found.begin(), found.end(), kChassisEeprom7) == found.end()) {
        Target target;
        target.address7 = kChassisEeprom7;
        target.kind = Kind::ChassisEeprom;
        const int32_t status =
            ZELSMBusGetChassisEEPROM(session.handle(), 0, 256, target.bytes.data());
        if (status >= 0) {
            target.source = "ZELSMBusGetChassisEEPROM, 256 bytes";
            port.targets.push_back(target);
        } else if (!isNoAcknowledgement(status)) {
            problem("cannot read the chassis EEPROM of " + port.resource, status);
        }
    }
}

// An answering address: a device that does not acknowledge an SMBus block
// read is taken for an EEPROM (an EEPROM answers none), any other for a
// register device whose bytes, words and block counts are read.
void Capture::readTarget(const Session &session, Port &port, uint8_t address7) {
    tSMBusHandle *handle = session.handle();
    const uint8_t wire = toWire(address7);
    const std::string where = port.resource + ", address " + hex(address7);
    progress_.show(where + ": reading");
    Target target;
    target.address7 = address7;
    uint8_t count0 = 0;
    uint8_t data0[32];
    const int32_t block0 = ZELSMBusReadBlock(handle, wire, 0, 0, &count0, data0);
    if (block0 < 0 && !isNoAcknowledgement(block0)) {
        problem("cannot read " + where + " (SMBus block read of command 0x00)", block0);
        return;
    }
    if (block0 < 0) {
        if (port.chassisFlag && address7 == kChassisEeprom7) {
            target.kind = Kind::ChassisEeprom;
            if (!ok(ZELSMBusGetChassisEEPROM(handle, 0, 256, target.bytes.data()),
                    "cannot read the chassis EEPROM of " + port.resource))
                return;
            target.source = "ZELSMBusGetChassisEEPROM, 256 bytes";
        } else {
            target.kind = Kind::Eeprom;
            if (!ok(ZELSMBusReadI2CEEPROM(handle, wire, 0, 256, target.bytes.data()),
                    "cannot read the EEPROM at " + where))
                return;
            target.source = "ZELSMBusReadI2CEEPROM, 256 bytes (no answer to an SMBus block read)";
        }
        port.targets.push_back(target);
        return;
    }
    target.kind = Kind::Registers;
    std::array<uint16_t, 256> words{};
    for (unsigned command = 0; command < 256; ++command) {
        const uint8_t c = uint8_t(command);
        const std::string at = where + ", command " + hex(c);
        if (!ok(ZELSMBusReadByte(handle, wire, c, 0, &target.bytes[command]),
                "cannot read " + at + " (read byte)") ||
            !ok(ZELSMBusReadWord(handle, wire, c, 0, &words[command]),
                "cannot read " + at + " (read word)"))
            return;
        uint8_t count = count0;
        uint8_t data[32];
        std::memcpy(data, data0, sizeof data);
        const int32_t status =
            command == 0 ? block0 : ZELSMBusReadBlock(handle, wire, c, 0, &count, data);
        if (!ok(status, "cannot read " + at + " (SMBus block read)")) return;
        // The library copies at most 32 bytes whatever count the device announces.
        if (count > 0)
            target.blocks.emplace_back(
                c, std::vector<uint8_t>(data, data + std::min<unsigned>(count, 32)));
    }
    // A byte register device answers a word at c with registers c and c+1;
    // one of 16-bit registers sent most significant byte first does not.
    for (unsigned c = 0; c < 256 && !target.words; ++c)
        target.words = (words[c] >> 8) != target.bytes[(c + 1) & 0xFF];
    if (target.words) {
        for (unsigned c = 0; c < 256; ++c)
            target.wordValues[c] = uint16_t((words[c] & 0xFF) << 8 | words[c] >> 8);
    }
    target.source = "read byte, read word and SMBus block read of every command";
    port.targets.push_back(target);
}

void Capture::readChassis(const std::string &resource) {
    progress_.show(resource + ": chassis EEPROM");
    const size_t first = resource.find("::"), second = resource.find("::", first + 2);
    uint32_t number = 0;
    try {
        number = parseNumber(resource.substr(first + 2, second - first - 2), 0xFFFFFFFFu,
                             "chassis number");
    } catch (const std::exception &) {
        problem("cannot tell the chassis number of " + resource);
        return;
    }
    std::optional<Session> session;
    try {
        session.emplace(resource, false);
    } catch (const ToolError &e) {
        problem(e.what(), e.code());
        return;
    }
    Port opened;
    const uint32_t ids[7] = {
        ZELSMBUS_ATTR_VENDOR_ID,    ZELSMBUS_ATTR_DEVICE_ID, ZELSMBUS_ATTR_SUBSYSTEM_VENDOR_ID,
        ZELSMBUS_ATTR_SUBSYSTEM_ID, ZELSMBUS_ATTR_PCI_BUS,   ZELSMBUS_ATTR_PCI_DEVICE,
        ZELSMBUS_ATTR_PCI_FUNCTION};
    uint16_t *into[7] = {&opened.ids[0],     &opened.ids[1],      &opened.ids[2],
                         &opened.ids[3],     &opened.location[0], &opened.location[1],
                         &opened.location[2]};
    bool read = true;
    for (int i = 0; i < 7; ++i)
        read = ok(ZELSMBusGetAttribute(session->handle(), ids[i], into[i]),
                  "cannot read attribute " + std::to_string(ids[i]) + " of " + resource) &&
               read;
    read = ok(ZELSMBusGetAttribute(session->handle(), ZELSMBUS_ATTR_PORT, &opened.index),
              "cannot read attribute 108 of " + resource) &&
           read;
    std::array<uint8_t, 256> eeprom{};
    read = ok(ZELSMBusGetChassisEEPROM(session->handle(), 0, 256, eeprom.data()),
              "cannot read the chassis EEPROM of " + resource) &&
           read;
    if (!read) return;
    if (number == 0) {
        problem("cannot describe " + resource + ": a world file numbers chassis from 1");
        return;
    }
    ChassisEntry entry{number, fieldText(eeprom, kModel), fieldText(eeprom, kVendor),
                       fieldText(eeprom, kSerial), resource};
    if (args_.redact) entry.serial = kRedacted;
    if (!isUtf8(entry.model) || !isUtf8(entry.vendor) || !isUtf8(entry.serial))
        problem("the chassis EEPROM texts of " + resource +
                " hold bytes that are not UTF-8: each is written as the character of its value, "
                "which the simulator writes back into the chassis EEPROM");
    // A backplane name given alone brings its port along.
    bool surveyed = false;
    for (const Device &device : devices_)
        for (const Port &port : device.ports)
            surveyed = surveyed || (samePort(port, opened) && port.index == opened.index);
    if (!surveyed) {
        session.reset();
        surveyPort(resource);
    }
    for (Device &device : devices_) {
        for (Port &port : device.ports) {
            if (samePort(port, opened) && port.index == opened.index) {
                port.chassis = number;
                port.chassisSource = resource + " opens this port";
            }
        }
    }
    chassis_.push_back(entry);
}

void Capture::readFlash(const std::string &resource, Device &device) {
    progress_.show(resource + ": flash");
    Flash &flash = device.flash;
    std::optional<Session> session;
    try {
        session.emplace(resource, false);
    } catch (const ToolError &e) {
        problem(e.what(), e.code());
        return;
    }
    tSMBusHandle *handle = session->handle();
    const uint32_t on = 1, off = 0;
    if (ok(ZELSMBusSetAttribute(handle, ZELSMBUS_ATTR_UNRESTRICTED, &on),
           "cannot make the session on " + resource + " unrestricted for its signature")) {
        flash.signatureRead =
            ok(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_REGISTER_FIRST, &flash.signature),
               "cannot read the signature (register 0) of " + resource);
        ZELSMBusSetAttribute(handle, ZELSMBUS_ATTR_UNRESTRICTED, &off);
    }
    try {
        const FlashWriterLock held(handle, resource);
        const std::optional<BoardPinOut> board = readBoardPinOut(held, handle, pinOutAddress_);
        if (!board) {
            problem("cannot read the flash of " + resource +
                    " (its registers do not answer, or its flash device is not one the library "
                    "updates)");
            return;
        }
        flash.flashId = board->flashId;
        flash.read = true;
        // A board's pin-out reading answers only for a device of the table.
        const nZELSMBUS000::tFlashChip &device = *nZELSMBUS000::findFlashChip(board->flashId);
        uint32_t base = offset_;
        switch (device.placement) {
            case nZELSMBUS000::tRegionPlacement::fixedAtZero:
                base = 0;
                break;
            case nZELSMBUS000::tRegionPlacement::fixedBase:
                base = device.regionBase;
                break;
            case nZELSMBUS000::tRegionPlacement::atOffset:
                break;
        }
        progress_.show(resource + ": firmware region (two readings)");
        const auto first = readFirmwareRegion(held, handle, board->flashId, offset_);
        const auto second = readFirmwareRegion(held, handle, board->flashId, offset_);
        if (!first || !second) {
            problem("cannot read the firmware region of " + resource);
        } else if (*first != *second) {
            problem("two readings of the firmware region of " + resource + " differ");
        } else {
            flash.runs.emplace_back(base, *first);
            flash.notes.push_back("firmware region " + hex(base, 6) + "-" +
                                  hex(base + uint32_t(first->size()) - 1, 6) +
                                  ": two readings agree");
        }
        if (device.configBlocks) {
            progress_.show(resource + ": configuration blocks 2-3 (two readings)");
            const auto blocks = readConfigBlocks(held, handle, 2, 2);
            const auto again = readConfigBlocks(held, handle, 2, 2);
            if (!blocks || !again) {
                problem("cannot read configuration blocks 2 and 3 of " + resource);
            } else if (*blocks != *again) {
                problem("two readings of configuration blocks 2 and 3 of " + resource + " differ");
            } else {
                flash.runs.emplace_back(0x10000, *blocks);
                flash.notes.push_back(
                    "configuration blocks 2-3 0x010000-0x01FFFF: two readings agree");
            }
        }
        std::vector<uint8_t> word;
        if (device.pinOutBytes == 2) {  // a 16-bit indirect word, most significant byte first
            word = {uint8_t(board->word >> 8), uint8_t(board->word)};
        } else {
            word = {uint8_t(board->word), uint8_t(board->word >> 8), uint8_t(board->word >> 16),
                    uint8_t(board->word >> 24)};
        }
        bool covered = false;  // the pin-out word inside a region read already
        for (const auto &[at, bytes] : flash.runs)
            covered = covered ||
                      (pinOutAddress_ >= at && pinOutAddress_ - at + word.size() <= bytes.size());
        if (!covered) flash.runs.emplace_back(pinOutAddress_, word);
        flash.notes.push_back("pin-out word at " + hex(pinOutAddress_, 6) + ": version " +
                              std::to_string(board->version) +
                              (board->erased ? " (reads erased)" : ""));
    } catch (const ToolError &e) {
        problem(e.what(), e.code());
    }
}

// Runs of the flash as hexadecimal text, without the erased stretches
// (every byte a run does not give is erased anyway), in lines of 64 bytes.
void writeFlash(std::ostringstream &out, const Flash &flash) {
    out << "flash_contents = [\n";
    for (const auto &[base, bytes] : flash.runs) {
        const size_t line = 64;
        for (size_t at = 0; at < bytes.size(); at += line) {
            const size_t end = std::min(bytes.size(), at + line);
            bool erased = true;
            for (size_t i = at; i < end; ++i) erased = erased && bytes[i] == 0xFF;
            if (erased) continue;
            char text[160];
            std::snprintf(text, sizeof text, "  { address = 0x%06X, hex = \"", unsigned(base + at));
            out << text;
            for (size_t i = at; i < end; ++i) {
                std::snprintf(text, sizeof text, "%02x", bytes[i]);
                out << text;
            }
            out << "\" },\n";
        }
    }
    out << "]\n";
}

std::string Capture::world() const {
    std::ostringstream out;
    bool badText = false;
    out << "# A world file for zelsim(1) (zelsim-world(5)), written by zelsmbus capture.\n"
        << "# Every value was read through libzelsmbus; the comment beside it says how.\n";
    if (args_.redact)
        out << "# --redact: chassis serial numbers are replaced by \"" << kRedacted << "\".\n";
    if (!problems_.empty()) {
        out << "# INCOMPLETE: these could not be read, and the world holds the simulator's\n"
            << "# defaults (or nothing) in their place:\n";
        for (const std::string &p : problems_) {
            // A problem text may hold a device's bytes: keep each on one comment line.
            std::string line;
            for (char c : terminalSafe(p)) line += (c == '\n' || c == '\r') ? ' ' : c;
            out << "#   " << line << '\n';
        }
    }
    out << "format_version = 1  # the world-file format (zelsim-world(5))\n\n";
    unsigned instance = 0;
    for (const Device &device : devices_) {
        const Port &first = device.ports.front();
        out << "[[device]]\n"
            << "instance = \"zel" << instance++
            << "\"  # the node's folder name is not visible through the library: numbered\n";
        const char *idNames[4] = {"vendor_id", "device_id", "subsystem_vendor_id", "subsystem_id"};
        const int idAttributes[4] = {101, 102, 103, 104};
        for (int i = 0; i < 4; ++i)
            out << idNames[i] << " = " << hex(first.ids[i], 4) << "  # attribute "
                << idAttributes[i] << '\n';
        const char *locNames[3] = {"bus", "device", "function"};
        for (int i = 0; i < 3; ++i)
            out << locNames[i] << " = " << hex(first.location[i]) << "  # attribute " << 105 + i
                << '\n';
        out << "device_string = " << tomlString(first.deviceText, badText) << "  # attribute 302\n";
        if (first.firmwareVersionRead)
            out << "firmware_version = " << hex(first.firmwareVersion, 8) << "  # attribute 303\n";
        if (!args_.flash) {
            bool flag = false;
            for (const Port &port : device.ports) flag = flag || port.configFlagValue.has_value();
            if (flag)
                out << "flash_id = 0x1010  # attribute 1006 answers: only flash device 0x1010 "
                       "keeps it\n";
            out << "# flash not read (zelsmbus capture --flash reads its identity and contents)\n";
        } else if (device.flash.read) {
            out << "flash_id = " << hex(device.flash.flashId, 4)
                << "  # identified as firmware-read does\n";
            if (device.flash.signatureRead)
                out << "signature = " << hex(device.flash.signature, 8) << "  # register 0\n";
            for (const std::string &note : device.flash.notes) out << "# " << note << '\n';
            writeFlash(out, device.flash);
        } else {
            out << "# the flash could not be read (see the list at the top)\n";
        }
        uint16_t expected = 0;
        for (const Port &port : device.ports) {
            for (; expected < port.index; ++expected) {
                out << "\n  [[device.port]]  # port " << expected
                    << ": not captured (only the resources named were surveyed)\n";
            }
            ++expected;
            out << "\n  [[device.port]]  # " << port.resource << ", port " << port.index
                << " (attribute 108)\n"
                << "  text = " << tomlString(port.portText, badText) << "  # attribute 301\n"
                << "  chassis_eeprom = " << (port.chassisFlag ? "true" : "false")
                << "  # attribute 1002\n"
                << "  extended_protection = " << (port.extendedProtection ? "true" : "false")
                << "  # attribute 1003\n"
                << "  protected = " << byteList(port.protected8.data(), port.protected8.size())
                << "  # attributes 401 and 402"
                << (port.libraryAddedProtected
                        ? ", without 0x58 0x5A 0x5C 0xC6 0xC8 that the library adds"
                        : "")
                << '\n';
            if (port.chassis)
                out << "  chassis = " << port.chassis << "  # " << port.chassisSource << '\n';
            out << "  attributes = { ";
            bool comma = false;
            for (const auto &[id, value] : port.settings) {
                out << (comma ? ", " : "") << id << " = " << value;
                comma = true;
            }
            out << " }  # attributes 1005 and 2001; 1004, 3001, 3002 and 10001-10005 need full "
                   "access and were not read\n";
            out << "  # attribute 1006 (configuration flag): " << port.configFlag
                << (args_.flash ? "" : "; it lives in the flash, which --flash captures") << '\n';
            for (uint8_t a7 : port.skipped)
                out << "  # address " << hex(a7) << " is protected: not probed\n";
            for (const Target &target : port.targets) {
                out << "\n    [[device.port.target]]  # " << target.source << '\n'
                    << "    address7 = " << hex(target.address7) << '\n';
                if (target.kind != Kind::Registers) {
                    std::array<uint8_t, 256> bytes = target.bytes;
                    if (target.kind == Kind::ChassisEeprom && args_.redact)
                        redactField(bytes, kSerial);
                    out << "    kind = \""
                        << (target.kind == Kind::Eeprom ? "eeprom" : "chassis_eeprom")
                        << "\"  # page size is not visible to reads: the default\n"
                        << "    contents = " << byteList(bytes.data(), bytes.size()) << '\n';
                    continue;
                }
                out << "    kind = \"registers\"\n";
                if (target.words) {
                    out << "    layout = \"words_msb_first\"  # a word read is not two byte reads\n"
                        << "    words = [";
                    for (unsigned c = 0; c < 256; ++c)
                        out << (c ? (c % 8 ? ", " : ",\n      ") : "")
                            << hex(target.wordValues[c], 4);
                    out << "]\n";
                } else {
                    out << "    bytes = " << byteList(target.bytes.data(), 256) << '\n';
                }
                if (!target.blocks.empty()) {
                    out << "    blocks = [  # commands whose SMBus block read answers bytes\n";
                    for (const auto &[command, data] : target.blocks)
                        out << "      { command = " << hex(command)
                            << ", data = " << byteList(data.data(), data.size()) << " },\n";
                    out << "    ]\n";
                }
            }
        }
        out << '\n';
    }
    for (const ChassisEntry &c : chassis_) {
        out << "[[chassis]]  # " << c.resource << ": its port's chassis EEPROM\n"
            << "number = " << c.number << '\n'
            << "model = " << tomlString(c.model, badText) << "  # offset 5\n"
            << "vendor = " << tomlString(c.vendor, badText) << "  # offset 65\n"
            << "serial = " << tomlString(c.serial, badText) << "  # offset 106"
            << (args_.redact ? ", redacted" : "") << '\n'
            << "slot1 = \"ZELSMBUS\"  # the library lists this chassis, so slot 1 holds its "
               "controller; the slot's text itself is not visible through the library\n\n";
    }
    return out.str();
}

// Refuses an output file that cannot be written before any device is asked
// anything: its folder must take a new file, and a file of that name must be
// a writable regular file.
void checkWritable(const std::string &path) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode))
            throw ToolError("cannot write " + path + ": not a regular file");
        if (access(path.c_str(), W_OK) != 0)
            throw ToolError("cannot write " + path + ": " + std::strerror(errno));
    }
    std::string probe = path + ".XXXXXX";
    const int fd = mkostemp(&probe[0], O_CLOEXEC);
    if (fd < 0) throw ToolError("cannot write " + path + ": " + std::strerror(errno));
    close(fd);
    unlink(probe.c_str());
}

void runCapture(const CaptureArgs &args) {
    if (!args.output.empty()) checkWritable(args.output);
    Capture capture(args);
    capture.run();
    const std::string text = capture.world();
    if (args.output.empty()) {
        std::cout << text << std::flush;
    } else {
        writeFileAtomically(args.output, text);
    }
    if (!capture.problems().empty()) {
        const size_t n = capture.problems().size();
        throw ToolError("the capture is incomplete: " + std::to_string(n) +
                        (n == 1 ? " value" : " values") +
                        " could not be read (named above and at the top of the world file)");
    }
}

}  // namespace
}  // namespace capture

Command addCaptureCommand(CLI::App &tool) {
    static capture::CaptureArgs args;
    CLI::App *app = tool.add_subcommand(
        "capture",
        "Read every controller, port, device and chassis (or the RESOURCEs named) and write "
        "them as a world file for zelsim; reads only");
    app->add_option("RESOURCE", args.resources,
                    "Resources to capture (default: every name 'zelsmbus list' shows)");
    app->add_option("-o,--output", args.output, "World file to write (default: standard output)");
    app->add_flag("--flash", args.flash,
                  "Also read each controller's flash: identity, firmware region, configuration "
                  "blocks and pin-out word (reads twice, as firmware-read does)");
    app->add_flag("--redact", args.redact, "Replace chassis serial numbers by REDACTED");
    app->add_option("--pinout-addr", args.pinOutAddress,
                    "With --flash: flash address of the boards' pin-out word (default 0x20000)");
    app->add_option("--offset", args.offset,
                    "With --flash: flash address of the firmware region on flash device 0xBF8E "
                    "(default 0)");
    addAcceptedYesOption(*app);
    return {app, "zelsmbus capture [OPTIONS] [RESOURCE...]", [] { capture::runCapture(args); }};
}

}  // namespace zelsmbus_tool
