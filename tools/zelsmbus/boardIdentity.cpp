#include "boardIdentity.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "boardPinOut.h"
#include "flash/flashChips.h"
#include "failure.h"
#include "flashWriterLock.h"
#include "options.h"
#include "stateFiles.h"

namespace zelsmbus_tool {
namespace {

// Lower-case hexadecimal digits, without 0x.
std::string digits(uint32_t value, int count) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", count, value);
    return text;
}

}  // namespace

std::string BoardIdentity::fileStem() const {
    std::string pci = pciLocation;
    for (char &c : pci)
        if (c == ':') c = '.';
    return "board-" + pci + "-" + digits(vendorId, 4) + "." + digits(deviceId, 4) + "." +
           digits(subsystemVendorId, 4) + "." + digits(subsystemId, 4);
}

bool BoardIdentity::matches(const BoardIdentity &other, bool anySimulatedWorld) const {
    BoardIdentity same = other;
    if (flashId == 0 || other.flashId == 0) same.flashId = flashId;
    const auto simulated = [](const std::string &w) { return w.rfind("simulated ", 0) == 0; };
    if (anySimulatedWorld && simulated(world) && simulated(other.world)) same.world = world;
    return same == *this;
}

std::string BoardIdentity::text() const {
    return "world=" + world + ";pci=" + pciLocation + ";ids=" + digits(vendorId, 4) + ":" +
           digits(deviceId, 4) + ":" + digits(subsystemVendorId, 4) + ":" +
           digits(subsystemId, 4) + ";flash=" + hex4(flashId);
}

std::optional<BoardIdentity> BoardIdentity::fromText(const std::string &text) {
    BoardIdentity board;
    bool world = false, pci = false, ids = false, flash = false;
    std::istringstream in(text);
    std::string field;
    while (std::getline(in, field, ';')) {
        const size_t equals = field.find('=');
        if (equals == std::string::npos) return std::nullopt;
        const std::string key = field.substr(0, equals), value = field.substr(equals + 1);
        if (key == "world") {
            board.world = value, world = true;
        } else if (key == "pci") {
            board.pciLocation = value, pci = true;
        } else if (key == "ids") {
            unsigned v[4];
            char end;
            if (std::sscanf(value.c_str(), "%4x:%4x:%4x:%4x%c", &v[0], &v[1], &v[2], &v[3],
                            &end) != 4)
                return std::nullopt;
            board.vendorId = uint16_t(v[0]), board.deviceId = uint16_t(v[1]);
            board.subsystemVendorId = uint16_t(v[2]), board.subsystemId = uint16_t(v[3]);
            ids = true;
        } else if (key == "flash") {
            char *end = nullptr;
            const unsigned long id = std::strtoul(value.c_str(), &end, 16);
            if (value.empty() || *end != '\0' || id > 0xFFFF) return std::nullopt;
            board.flashId = uint16_t(id), flash = true;
        }
    }
    if (!world || !pci || !ids || !flash || board.world.empty() || board.pciLocation.empty())
        return std::nullopt;
    return board;
}

std::string BoardIdentity::describe() const {
    return "PCI " + pciLocation + ", ids " + digits(vendorId, 4) + ":" + digits(deviceId, 4) +
           " " + digits(subsystemVendorId, 4) + ":" + digits(subsystemId, 4) + ", flash " +
           hex4(flashId) + (world == "hardware" ? "" : ", " + world);
}

BoardIdentity boardAttributes(tSMBusHandle *handle, const std::string &resource) {
    const std::string what = "cannot read the identity of " + resource;
    BoardIdentity board;
    uint16_t bus = 0, device = 0, function = 0;
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PCI_BUS, &bus), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PCI_DEVICE, &device), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PCI_FUNCTION, &function), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_VENDOR_ID, &board.vendorId), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_DEVICE_ID, &board.deviceId), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_SUBSYSTEM_VENDOR_ID,
                               &board.subsystemVendorId),
          what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_SUBSYSTEM_ID, &board.subsystemId), what);
    char location[32];
    std::snprintf(location, sizeof location, "%02x:%02x.%x", bus, device, function);
    board.pciLocation = location;
    board.world = currentWorld();
    return board;
}

BoardIdentity identifyBoard(tSMBusHandle *handle, const std::string &resource) {
    BoardIdentity board = boardAttributes(handle, resource);
    const FlashWriterLock held(handle, resource);
    const uint16_t flashId = readFlashIdentifier(held, handle).value_or(0);
    board.flashId = nZELSMBUS000::findFlashChip(flashId) != nullptr ? flashId : 0;
    return board;
}

}  // namespace zelsmbus_tool
