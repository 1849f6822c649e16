// The running world written back as a world file (zelsim_world_snapshot,
// `zelsim snapshot`): what the file gave, with the contents the devices hold
// now. Loading the text gives the same state.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "sim.h"
#include "vtime.h"

namespace zelsim {
namespace {

constexpr unsigned kAttributeIds[] = {10001, 10002, 10003, 10004, 10005,
                                      2001,  3001,  3002,  1004,  1005};
constexpr size_t kFlashRunMax = 4096;  // bytes per flash_contents entry

std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string quoted(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

template <typename Values>
std::string list(const Values &values, size_t count) {
    std::string out = "[";
    for (size_t i = 0; i < count; ++i) out += (i == 0 ? "" : ", ") + hex(values[i]);
    return out + "]";
}

// How many leading entries differ from `blank` at the end.
template <typename Values, typename Value>
size_t used(const Values &values, size_t size, Value blank) {
    while (size > 0 && values[size - 1] == blank) --size;
    return size;
}

void writeTarget(std::ostringstream &out, Target &t) {
    out << "\n    [[device.port.target]]\n    address = " << hex(t.address) << "\n";
    switch (t.kind) {
        case TargetKind::Nack:
            out << "    kind = \"nack\"\n";
            return;
        case TargetKind::Eeprom:
            out << "    kind = \"eeprom\"\n    page_size = " << t.pageSize << "\n    contents = "
                << list(t.memory, used(t.memory, t.memory.size(), uint8_t(0xFF))) << "\n";
            return;
        case TargetKind::Registers:
            break;
    }
    out << "    kind = \"registers\"\n";
    if (t.layout == RegisterLayout::Bytes) {
        out << "    bytes = " << list(t.registers, used(t.registers, 256, uint8_t(0))) << "\n";
    } else {
        std::vector<uint16_t> words(256);
        for (unsigned k = 0; k < 256; ++k) words[k] = wordRegister(t, k);
        out << "    layout = \"words_msb_first\"\n    words = "
            << list(words, used(words, words.size(), uint16_t(0))) << "\n";
    }
    if (t.blockLengths.empty()) return;
    out << "    blocks = [";
    const char *separator = "";
    for (const auto &[command, count] : t.blockLengths) {
        std::vector<uint8_t> data(count);
        for (unsigned i = 0; i < count; ++i) data[i] = registerByte(t, command, i);
        out << separator << "{ command = " << hex(command) << ", data = " << list(data, count)
            << " }";
        separator = ", ";
    }
    out << "]\n";
}

void writeFlash(std::ostringstream &out, const Device &device) {
    const RegisterBlock *flash = device.registers->blockAt(64);
    if (flash == nullptr) return;
    const std::vector<uint8_t> array = flash->array();
    const size_t size = array.size();
    if (size == 0) return;
    out << "flash_contents = [\n";
    for (size_t at = 0; at < size;) {
        if (array[at] == 0xFF) {
            ++at;
            continue;
        }
        // A run goes on over short stretches of erased bytes.
        size_t end = at, last = at;
        while (end < size && end - at < kFlashRunMax && end - last < 16) {
            if (array[end] != 0xFF) last = end;
            ++end;
        }
        end = last + 1;
        static const char digits[] = "0123456789ABCDEF";
        std::string text;
        for (size_t i = at; i < end; ++i) {
            text += digits[array[i] >> 4];
            text += digits[array[i] & 15];
        }
        out << "  { address = " << hex(at) << ", hex = \"" << text << "\" },\n";
        at = end;
    }
    out << "]\n";
}

}  // namespace
}  // namespace zelsim

using namespace zelsim;

extern "C" __attribute__((visibility("default"))) char *zelsim_world_snapshot(void) {
    if (refusedInSharedWorld(__func__)) return nullptr;
    std::ostringstream out;
    Sim &s = sim();
    {
        // One view of the world: nothing changes while it is written.
        std::lock_guard<std::mutex> lock(s.mutex);
        const World &w = s.world;
        out << "# written by zelsim snapshot\nformat_version = " << kWorldFormatVersion
            << "\n\n[simulator]\nlock_timeout_ms = " << w.lockTimeoutMs
            << "\nvirtual_time = " << (virtualTime() ? "true" : "false") << "\n";
        for (Device &d : s.world.devices) {
            uint32_t version = d.identity.firmwareVersion;
            d.registers->read(kFirmwareVersionRegister, version);
            out << "\n[[device]]\ninstance = " << quoted(d.instance)
                << "\nvendor_id = " << hex(d.vendorId) << "\ndevice_id = " << hex(d.deviceId)
                << "\nsubsystem_vendor_id = " << hex(d.subsystemVendorId)
                << "\nsubsystem_id = " << hex(d.subsystemId) << "\nbus = " << d.bus
                << "\ndevice = " << d.device << "\nfunction = " << d.function
                << "\ndevice_string = " << quoted(d.deviceString) << "\nrefuse_device_string = "
                << (d.refuseDeviceStringErrno == 25 ? "true" : "false")
                << "\nflash_id = " << hex(d.identity.flashId)
                << "\nsignature = " << hex(d.identity.signature)
                << "\nfirmware_version = " << hex(version) << "\n";
            writeFlash(out, d);
            for (Port &p : d.ports) {
                out << "\n  [[device.port]]\n  text = " << quoted(p.text)
                    << "\n  chassis_eeprom = " << (p.chassisEeprom ? "true" : "false")
                    << "\n  extended_protection = " << (p.extendedProtection ? "true" : "false")
                    << "\n  protected = " << list(p.protectedAddresses, p.protectedAddresses.size())
                    << "\n  chassis = " << p.chassis << "\n  attributes = {";
                const char *separator = " ";
                for (unsigned id : kAttributeIds) {
                    visitAttribute(p.attributes, id, [&](auto &value) {
                        out << separator << id << " = " << static_cast<uint64_t>(value);
                    });
                    separator = ", ";
                }
                out << " }\n";
                for (Target &t : p.targets) writeTarget(out, t);
            }
        }
        for (const Chassis &c : w.chassis) {
            out << "\n[[chassis]]\nnumber = " << c.number << "\nmodel = " << quoted(c.model)
                << "\nvendor = " << quoted(c.vendor) << "\nserial = " << quoted(c.serial)
                << "\nslot1 = " << quoted(c.slot1) << "\n";
        }
    }
    const std::string text = out.str();
    char *copy = static_cast<char *>(std::malloc(text.size() + 1));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}
