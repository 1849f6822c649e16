// One driver command: checks the request envelope against the command table,
// reaches the node, port and bus the command names, runs its handler, and
// records the exchange in the log. The handlers of the node's own commands
// are here; the bus transactions are in targets.cpp.
#include <cerrno>
#include <cstring>

#include "commands.h"
#include "handlers.h"
#include "lock.h"
#include "nodeFiles.h"
#include "sim.h"
#include "statusWords.h"
#include "userMemory.h"
#include "vtime.h"

namespace zelsim {
namespace {

void putText(uint8_t *out, const std::string &text) {
    std::memcpy(out, text.data(), std::min<size_t>(text.size(), 64));
}

// Runs a command that passed the envelope checks. A bus command may wait for
// the bus lock (releasing the mutex); returns the driver status word, or
// sets `err`.
int32_t execute(Sim &s, std::unique_lock<std::mutex> &lock, int fd, const NodeRef &ref,
                const Command &command, Fields &f, int &err) {
    Device *device = deviceOf(s, ref.node);
    Port *port = nullptr;
    if (command.scope != Scope::Node) {
        const unsigned portIndex = static_cast<unsigned>(f.get("port"));
        if (portIndex >= device->ports.size()) return kStatusBadPort;
        if (command.scope == Scope::Bus) {
            switch (waitForBus(s, lock, fd, ref, portIndex)) {
                case BusWait::Stale:
                    err = ENODEV;
                    return 0;
                case BusWait::Busy:
                    return kStatusBusy;
                case BusWait::Free:
                    break;
            }
            device = deviceOf(s, ref.node);  // the world may have been replaced meanwhile
        }
        port = &device->ports[portIndex];
    }
    Call call{s, fd, ref.openId, *device, port, f};
    const int32_t word = command.run(call);
    err = call.err;
    return word;
}

}  // namespace

namespace handlers {

int32_t pciIds(Call &c) {
    c.fields.set("vendor_id", c.device.vendorId);
    c.fields.set("device_id", c.device.deviceId);
    c.fields.set("subsystem_vendor_id", c.device.subsystemVendorId);
    c.fields.set("subsystem_id", c.device.subsystemId);
    return 0;
}

int32_t pciLocation(Call &c) {
    c.fields.set("bus", c.device.bus);
    c.fields.set("device", c.device.device);
    c.fields.set("function", c.device.function);
    return 0;
}

int32_t deviceString(Call &c) {
    if (c.device.refuseDeviceStringErrno != 0) {
        c.err = c.device.refuseDeviceStringErrno;
        return 0;
    }
    if (c.device.refuseDeviceStringWord != 0) return c.device.refuseDeviceStringWord;
    putText(c.fields.outBytes("text"), c.device.deviceString);
    return 0;
}

int32_t portFlags(Call &c) {
    c.fields.set("chassis_eeprom", c.port->chassisEeprom ? 1 : 0);
    c.fields.set("extended_protection", c.port->extendedProtection ? 1 : 0);
    return 0;
}

int32_t portString(Call &c) {
    putText(c.fields.outBytes("text"), c.port->text);
    return 0;
}

int32_t protectedAddresses(Call &c) {
    const size_t count = std::min<size_t>(c.port->protectedAddresses.size(), 32);
    c.fields.set("count", count);
    if (count != 0)
        std::memcpy(c.fields.outBytes("addresses"), c.port->protectedAddresses.data(), count);
    return 0;
}

int32_t lock(Call &c) {
    c.port->lockOwner = c.openId;
    c.port->lockOwnerDescriptor = c.fd;
    return 0;
}

int32_t unlock(Call &c) {
    // The bus wait before the command found the lock ours or free (a
    // holder that closed its node no longer holds it).
    if (c.port->lockOwner == c.openId) {
        c.port->lockOwner = 0;
        c.port->lockOwnerDescriptor = -1;
        c.sim.busReleased.notify_all();
    } else if (c.port->lockOwner != 0) {
        return kStatusBusy;  // someone else's lock is not ours to release
    }
    return 0;
}

int32_t readRegister(Call &c) {
    uint32_t value = 0;
    const int32_t word =
        c.device.registers->read(static_cast<uint32_t>(c.fields.get("offset")), value);
    c.fields.set("value", value);
    return word;
}

int32_t writeRegister(Call &c) {
    return c.device.registers->write(static_cast<uint32_t>(c.fields.get("offset")),
                                     static_cast<uint32_t>(c.fields.get("value")));
}

}  // namespace handlers

int deviceIoctl(int fd, uint64_t openId, unsigned long requestArgument, void *argument,
                bool &node) {
    // The kernel takes the request code as 32 bits; a sign-extended code is the same request.
    const uint32_t request = static_cast<uint32_t>(requestArgument);
    Sim &s = sim();
    std::unique_lock<std::mutex> lock(s.mutex);
    NodeRef ref;
    const NodeLookup found = lookupOpen(s, openId, ref);
    node = found != NodeLookup::None;
    if (!node) return 0;
    noteDeviceCall();
    ++s.counts[ZELSIM_CALL_IOCTL];

    zelsim_log_record entry{};
    entry.fd = fd;
    entry.node = found == NodeLookup::Current ? static_cast<int>(ref.node) : -1;
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

    // The caller's memory is read and written as the driver does: a bad
    // address is EFAULT, never a crash.
    uint8_t raw[envelope::kSize];
    if (!copyFromUser(raw, argument, sizeof raw)) return failWith(EFAULT);
    const envelope::View view = envelope::read(raw);
    entry.in_size = view.inSize;
    entry.out_size = view.outSize;

    if (entry.in_size != command->inSize || entry.out_size != command->outSize)
        return failWith(EINVAL);
    if (view.in == nullptr || view.out == nullptr) return failWith(EFAULT);
    if (!copyFromUser(entry.in, view.in, command->inSize)) return failWith(EFAULT);

    auto commandFault = s.faults.commandErrno.find(command->number);
    if (commandFault != s.faults.commandErrno.end() && commandFault->second.take()) {
        return failWith(commandFault->second.value);
    }

    // Work on private copies: the input may change while we wait for the bus,
    // and nothing is written to the caller's output unless the command succeeds.
    uint8_t input[ZELSIM_LOG_BYTES] = {};
    uint8_t output[ZELSIM_LOG_BYTES] = {};
    std::memcpy(input, entry.in, command->inSize);
    Fields fields(*command, input, output);
    int err = 0;
    int32_t word = execute(s, lock, fd, ref, *command, fields, err);
    if (err != 0) return failWith(err);

    auto wordFault = s.faults.driverWord.find(command->number);
    if (wordFault != s.faults.driverWord.end() && wordFault->second.take()) {
        word = wordFault->second.value;
    }
    fields.set("status", static_cast<uint32_t>(word));
    if (!copyToUser(view.out, output, command->outSize) ||
        !copyToUser(static_cast<uint8_t *>(argument) + envelope::kResult, &word, sizeof word))
        return failWith(EFAULT);

    std::memcpy(entry.out, output, command->outSize);
    entry.out_written = command->outSize;
    entry.driver_status = word;
    s.log.push_back(entry);
    return 0;
}

}  // namespace zelsim
