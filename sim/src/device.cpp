// One driver command: checks the request envelope against the command table,
// answers from the world, and records the exchange in the log.
#include <cerrno>
#include <cstring>

#include "commands.h"
#include "lock.h"
#include "sim.h"
#include "statusWords.h"

namespace zelsim {
namespace {

// Offsets of the request envelope.
constexpr size_t kEnvIn = 0, kEnvOut = 8, kEnvInSize = 16, kEnvOutSize = 20, kEnvResult = 24;

template <typename T>
T load(const uint8_t *base, size_t offset) {
    T value;
    std::memcpy(&value, base + offset, sizeof value);
    return value;
}

void putText(uint8_t *out, const std::string &text) {
    std::memcpy(out, text.data(), std::min<size_t>(text.size(), 64));
}

// The attribute commands: which attribute each reads or writes.
struct AttributeCommand {
    unsigned command;
    unsigned attribute;
    bool write;
};
constexpr AttributeCommand kAttributeCommands[] = {
    {0x1A, 10001, false}, {0x1B, 10001, true},  {0x1C, 2001, false},  {0x1D, 2001, true},
    {0x20, 10002, false}, {0x21, 10002, true},  {0x22, 10003, false}, {0x23, 10003, true},
    {0x24, 10004, false}, {0x25, 10005, false}, {0x26, 10005, true},  {0x27, 3001, false},
    {0x28, 3001, true},   {0x29, 1004, false},  {0x2A, 1004, true},   {0x2B, 1005, false},
    {0x2C, 1005, true},   {0x2D, 3002, false},  {0x2E, 3002, true},
};

int32_t attribute(Port &port, unsigned command, Fields &f) {
    for (const AttributeCommand &c : kAttributeCommands) {
        if (c.command != command) continue;
        visitAttribute(port.attributes, c.attribute, [&](auto &field) {
            if (c.write)
                storeAttribute(field, f.get("value"));
            else
                f.set("value", field);
        });
        break;
    }
    return 0;
}

// Runs a command that passed the envelope checks. May wait for the bus lock
// (releasing the mutex); returns the driver status word, or sets `err`.
int32_t execute(Sim &s, std::unique_lock<std::mutex> &lock, int fd, const Command &command,
                Fields &f, int &err) {
    Device *device = deviceOf(s, fd);
    const unsigned number = command.number;
    switch (number) {
        case 0x02:
            f.set("vendor_id", device->vendorId);
            f.set("device_id", device->deviceId);
            f.set("subsystem_vendor_id", device->subsystemVendorId);
            f.set("subsystem_id", device->subsystemId);
            return 0;
        case 0x03:
            f.set("bus", device->bus);
            f.set("device", device->device);
            f.set("function", device->function);
            return 0;
        case 0x2F:
            if (device->refuseDeviceStringErrno != 0) {
                err = device->refuseDeviceStringErrno;
                return 0;
            }
            if (device->refuseDeviceStringWord != 0) return device->refuseDeviceStringWord;
            putText(f.outBytes("text"), device->deviceString);
            return 0;
        default:
            break;
    }

    unsigned portIndex = static_cast<unsigned>(f.get("port"));
    if (portIndex >= device->ports.size()) return kStatusBadPort;
    Port *port = &device->ports[portIndex];

    if (number == 0x04) {
        f.set("chassis_eeprom", port->chassisEeprom ? 1 : 0);
        f.set("extended_protection", port->extendedProtection ? 1 : 0);
        return 0;
    }
    if (number == 0x05) {
        putText(f.outBytes("text"), port->text);
        return 0;
    }
    if (number == 0x06) {
        size_t count = std::min<size_t>(port->protectedAddresses.size(), 32);
        f.set("count", count);
        if (count != 0) {
            std::memcpy(f.outBytes("addresses"), port->protectedAddresses.data(), count);
        }
        return 0;
    }
    if (number == 0x18) {
        uint32_t value = 0;
        int32_t word = device->registers->read(static_cast<uint32_t>(f.get("offset")), value);
        f.set("value", value);
        return word;
    }
    if (number == 0x19) {
        return device->registers->write(static_cast<uint32_t>(f.get("offset")),
                                        static_cast<uint32_t>(f.get("value")));
    }
    if (number >= 0x1A) return attribute(*port, number, f);

    if (number == 0x08) {
        if (port->lockOwner == fd) {
            port->lockOwner = -1;
            s.busReleased.notify_all();
        } else if (port->lockOwner != -1) {
            return kStatusBusy;  // someone else's lock is not ours to release
        }
        return 0;
    }
    // Lock (0x07) and every transaction wait for a lock held by another descriptor.
    switch (waitForBus(s, lock, fd, portIndex)) {
        case BusWait::Stale:
            err = ENODEV;
            return 0;
        case BusWait::Busy:
            return kStatusBusy;
        case BusWait::Free:
            break;
    }
    port = &deviceOf(s, fd)->ports[portIndex];
    if (number == 0x07) {
        port->lockOwner = fd;
        return 0;
    }
    return runTransaction(*port, number, f);
}

}  // namespace

int deviceIoctl(int fd, unsigned long requestArgument, void *argument) {
    // The kernel takes the request code as 32 bits; a sign-extended code is the same request.
    const uint32_t request = static_cast<uint32_t>(requestArgument);
    Sim &s = sim();
    std::unique_lock<std::mutex> lock(s.mutex);
    ++s.counts[ZELSIM_CALL_IOCTL];

    zelsim_log_record entry{};
    entry.fd = fd;
    auto open = s.openNodes.find(fd);
    entry.node = open != s.openNodes.end() && open->second.generation == s.generation
                     ? static_cast<int>(open->second.node)
                     : -1;
    entry.request = request;
    entry.command = static_cast<unsigned>(request & 0xFF);

    auto failWith = [&](int err) {
        entry.err = err;
        s.log.push_back(entry);
        errno = err;
        return -1;
    };

    if (s.faults.calls[ZELSIM_CALL_IOCTL].take())
        return failWith(s.faults.calls[ZELSIM_CALL_IOCTL].value);
    if (entry.node < 0) return failWith(ENODEV);
    // A request that is not the driver's (a terminal's, say) is refused
    // before its argument is read: it may be a number, not an address.
    const Command *command = findCommand(entry.command);
    if (command == nullptr || ((request >> 8) & 0xFF) != kRequestType) return failWith(ENOTTY);
    if (request != command->request) return failWith(EINVAL);
    if (argument == nullptr) return failWith(EFAULT);

    uint8_t envelope[kEnvelopeSize];
    std::memcpy(envelope, argument, sizeof envelope);
    auto *in = load<const uint8_t *>(envelope, kEnvIn);
    auto *out = load<uint8_t *>(envelope, kEnvOut);
    entry.in_size = load<uint32_t>(envelope, kEnvInSize);
    entry.out_size = load<uint32_t>(envelope, kEnvOutSize);

    if (entry.in_size != command->inSize || entry.out_size != command->outSize)
        return failWith(EINVAL);
    if (in == nullptr || out == nullptr) return failWith(EFAULT);
    std::memcpy(entry.in, in, command->inSize);

    auto commandFault = s.faults.commandErrno.find(command->number);
    if (commandFault != s.faults.commandErrno.end() && commandFault->second.take()) {
        return failWith(commandFault->second.value);
    }

    // Work on private copies: the input may change while we wait for the bus,
    // and nothing is written to the caller's output unless the command succeeds.
    uint8_t input[ZELSIM_LOG_BYTES] = {};
    uint8_t output[ZELSIM_LOG_BYTES] = {};
    std::memcpy(input, in, command->inSize);
    Fields fields(*command, input, output);
    int err = 0;
    int32_t word = execute(s, lock, fd, *command, fields, err);
    if (err != 0) return failWith(err);

    auto wordFault = s.faults.driverWord.find(command->number);
    if (wordFault != s.faults.driverWord.end() && wordFault->second.take()) {
        word = wordFault->second.value;
    }
    fields.set("status", static_cast<uint32_t>(word));
    std::memcpy(out, output, command->outSize);
    std::memcpy(static_cast<uint8_t *>(argument) + kEnvResult, &word, sizeof word);

    std::memcpy(entry.out, output, command->outSize);
    entry.out_written = command->outSize;
    entry.driver_status = word;
    s.log.push_back(entry);
    return 0;
}

}  // namespace zelsim
