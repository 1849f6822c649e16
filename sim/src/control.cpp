// The C control interface of zelsim.h over the simulator's state.
#include <cerrno>
#include <cstring>

#include "client.h"
#include "commands.h"
#include "descriptorCache.h"
#include "nodeFiles.h"
#include "sim.h"
#include "vtime.h"

using namespace zelsim;

namespace {

using Lock = std::lock_guard<std::mutex>;

Port *portOf(Sim &s, unsigned node, unsigned port) {
    if (node >= s.world.devices.size() || port >= s.world.devices[node].ports.size())
        return nullptr;
    return &s.world.devices[node].ports[port];
}

Target *targetOf(Sim &s, unsigned node, unsigned port, unsigned address, TargetKind kind) {
    Port *p = portOf(s, node, port);
    Target *t = p == nullptr ? nullptr : p->target(address);
    return t != nullptr && t->kind == kind ? t : nullptr;
}

int loadText(const std::string &text, const std::string &worldFile = {}) {
    Sim &s = sim();
    World world;
    std::string error;
    bool ok = parseWorld(text, world, error, worldFile);
    Lock lock(s.mutex);
    if (!ok) {
        s.lastError = error;
        return -1;
    }
    s.lastError.clear();
    installWorld(s, std::move(world));
    return 0;
}

void clearFaults(Sim &s) {
    s.faults = Faults{};
    for (NodeFiles &files : s.files) files.unopenable.clear();
    bool released = false;
    for (Device &device : s.world.devices) {
        for (Port &port : device.ports) {
            for (Target &target : port.targets) {
                target.silent = false;
                target.corruptMask = 0;
            }
            if (port.lockOwner == kLockHeldByFault) {
                port.lockOwner = 0;
                port.lockOwnerDescriptor = -1;
                released = true;
            }
        }
    }
    if (released) s.busReleased.notify_all();
}

void copyText(char *destination, const std::string &text) {
    size_t n = std::min<size_t>(text.size(), ZELSIM_TEXT_MAX - 1);
    std::memcpy(destination, text.data(), n);
    destination[n] = '\0';
}

}  // namespace

// A process that uses a shared world (zelsim without --in-process) keeps no
// world of its own: what these functions read or change is the server's,
// which 'zelsim fault', 'zelsim snapshot' and 'zelsim reset' reach. They
// refuse and say so rather than act on a world no command uses.
bool zelsim::refusedInSharedWorld(const char *function) {
    if (!client::active()) return false;
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lastError = std::string(function) +
                  ": this process uses a shared world, which zelsim.h does not reach; run it "
                  "under 'zelsim --in-process', or control the shared world with 'zelsim fault', "
                  "'zelsim snapshot' and 'zelsim reset'";
    return true;
}

extern "C" {

int zelsim_load_world_file(const char *path) {
    if (refusedInSharedWorld(__func__)) return -1;
    std::string text, error;
    if (!readWorldFile(path, text, error)) {
        Sim &s = sim();
        Lock lock(s.mutex);
        s.lastError = error;  // like a parse error's, without the path the caller gave
        return -1;
    }
    return loadText(text, path);
}

int zelsim_load_world_text(const char *toml_text) {
    if (refusedInSharedWorld(__func__)) return -1;
    return toml_text == nullptr ? -1 : loadText(toml_text);
}

const char *zelsim_last_error(void) {
    Sim &s = sim();
    Lock lock(s.mutex);
    thread_local std::string copy;
    copy = s.lastError;
    return copy.c_str();
}

void zelsim_reset(void) { zelsim_reset_to_file(nullptr); }

int zelsim_reset_to_file(const char *path) {
    if (refusedInSharedWorld(__func__)) return -1;
    std::string text = defaultWorldText(), error;
    World world;
    bool ok =
        (path == nullptr || readWorldFile(path, text, error)) &&
        parseWorld(text, world, error, path == nullptr ? std::string() : std::string(path));
    Sim &s = sim();
    Lock lock(s.mutex);
    if (!ok) {
        s.lastError = error;
        return -1;
    }
    // One step under the mutex: a command sees the old world or the new one.
    s.treePresent = true;
    installWorld(s, std::move(world));
    clearFaults(s);
    s.log.clear();
    s.counts.fill(0);
    s.smbiosPath.clear();
    s.lastError.clear();
    resetVirtualClock();
    return 0;
}

void zelsim_clear_faults(void) {
    if (refusedInSharedWorld(__func__)) return;
    Sim &s = sim();
    Lock lock(s.mutex);
    clearFaults(s);
}

const char *zelsim_default_world_text(void) { return defaultWorldText(); }

const char *zelsim_tree_root(void) {
    // In a shared world the tree is the server's.
    if (client::active()) {
        thread_local std::string root;
        root = client::treeRoot();
        return root.c_str();
    }
    return sim().root.c_str();
}

unsigned zelsim_node_count(void) {
    if (refusedInSharedWorld(__func__)) return 0;
    Sim &s = sim();
    Lock lock(s.mutex);
    return static_cast<unsigned>(s.world.devices.size());
}

unsigned zelsim_port_count(unsigned node) {
    if (refusedInSharedWorld(__func__)) return 0;
    Sim &s = sim();
    Lock lock(s.mutex);
    return node < s.world.devices.size() ? static_cast<unsigned>(s.world.devices[node].ports.size())
                                         : 0;
}

const char *zelsim_node_path(unsigned node) {
    if (refusedInSharedWorld(__func__)) return nullptr;
    Sim &s = sim();
    Lock lock(s.mutex);
    if (node >= s.files.size()) return nullptr;
    thread_local std::string copy;
    copy = s.files[node].nodePath;
    return copy.c_str();
}

int zelsim_node_of_fd(int fd) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    NodeRef ref;
    return lookupOpen(s, descriptors::openIdOf(fd), ref) == NodeLookup::Current
               ? static_cast<int>(ref.node)
               : -1;
}

void zelsim_fail_call(enum zelsim_call kind, int err, unsigned count) {
    if (refusedInSharedWorld(__func__)) return;
    if (kind < 0 || kind >= ZELSIM_CALL_KIND_COUNT) return;
    Sim &s = sim();
    Lock lock(s.mutex);
    s.faults.calls[kind] = Countdown{err, count};
}

void zelsim_fail_command(unsigned command, int err, unsigned count) {
    if (refusedInSharedWorld(__func__)) return;
    Sim &s = sim();
    Lock lock(s.mutex);
    s.faults.commandErrno[command] = Countdown{err, count};
}

void zelsim_set_driver_status(unsigned command, int32_t word, unsigned count) {
    if (refusedInSharedWorld(__func__)) return;
    Sim &s = sim();
    Lock lock(s.mutex);
    s.faults.driverWord[command] = Countdown{word, count};
}

void zelsim_fail_glob(int result, unsigned count) {
    if (refusedInSharedWorld(__func__)) return;
    Sim &s = sim();
    Lock lock(s.mutex);
    s.faults.glob = Countdown{result, count};
}

int zelsim_make_unopenable(unsigned node, const char *file, int err) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    if (node >= s.files.size() || file == nullptr) return -1;
    s.files[node].unopenable[file] = err;
    return 0;
}

unsigned zelsim_fopen_attempts(unsigned node, const char *file) {
    if (refusedInSharedWorld(__func__)) return 0;
    Sim &s = sim();
    Lock lock(s.mutex);
    if (node >= s.files.size() || file == nullptr) return 0;
    auto it = s.files[node].fopenAttempts.find(file);
    return it == s.files[node].fopenAttempts.end() ? 0 : it->second;
}

int zelsim_refuse_device_string(unsigned node, int err, int32_t word) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    if (node >= s.world.devices.size()) return -1;
    s.world.devices[node].refuseDeviceStringErrno = err;
    s.world.devices[node].refuseDeviceStringWord = err != 0 ? 0 : word;
    return 0;
}

int zelsim_set_interface_path(unsigned node, const void *bytes, size_t length) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    if (node >= s.files.size() || (bytes == nullptr && length != 0)) return -1;
    s.files[node].interfacePath.assign(static_cast<const char *>(bytes), length);
    rewriteNodeFile(s, node, "interfacePath");
    return 0;
}

int zelsim_set_property(unsigned node, const char *name, const void *bytes, size_t length) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    if (node >= s.files.size() || name == nullptr || *name == '\0' ||
        std::strchr(name, '/') != nullptr || (bytes == nullptr && length != 0)) {
        return -1;
    }
    s.files[node].properties[name].assign(static_cast<const char *>(bytes), length);
    rewriteNodeFile(s, node, name);
    return 0;
}

void zelsim_set_tree_present(int present) {
    if (refusedInSharedWorld(__func__)) return;
    Sim &s = sim();
    Lock lock(s.mutex);
    s.treePresent = present != 0;
}

size_t zelsim_log_count(void) {
    if (refusedInSharedWorld(__func__)) return 0;
    Sim &s = sim();
    Lock lock(s.mutex);
    return s.log.size();
}

int zelsim_log_entry(size_t index, struct zelsim_log_record *entry) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    if (entry == nullptr || index >= s.log.size()) return -1;
    *entry = s.log[index];
    return 0;
}

void zelsim_log_clear(void) {
    if (refusedInSharedWorld(__func__)) return;
    Sim &s = sim();
    Lock lock(s.mutex);
    s.log.clear();
}

unsigned long zelsim_call_count(enum zelsim_call kind) {
    if (refusedInSharedWorld(__func__)) return 0;
    if (kind < 0 || kind >= ZELSIM_CALL_KIND_COUNT) return 0;
    Sim &s = sim();
    Lock lock(s.mutex);
    return s.counts[kind];
}

void zelsim_clear_call_counts(void) {
    if (refusedInSharedWorld(__func__)) return;
    Sim &s = sim();
    Lock lock(s.mutex);
    s.counts.fill(0);
}

int zelsim_eeprom_read(unsigned node, unsigned port, unsigned address, unsigned offset,
                       void *buffer, size_t length) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Target *t = targetOf(s, node, port, address, TargetKind::Eeprom);
    if (t == nullptr || (buffer == nullptr && length != 0)) return -1;
    for (size_t i = 0; i < length; ++i) {
        static_cast<uint8_t *>(buffer)[i] = t->memory[(offset + i) & 0xFF];
    }
    return 0;
}

int zelsim_eeprom_write(unsigned node, unsigned port, unsigned address, unsigned offset,
                        const void *buffer, size_t length) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Target *t = targetOf(s, node, port, address, TargetKind::Eeprom);
    if (t == nullptr || (buffer == nullptr && length != 0)) return -1;
    for (size_t i = 0; i < length; ++i) {
        t->memory[(offset + i) & 0xFF] = static_cast<const uint8_t *>(buffer)[i];
    }
    return 0;
}

int zelsim_target_byte(unsigned node, unsigned port, unsigned address, unsigned command,
                       uint8_t *value) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Target *t = targetOf(s, node, port, address, TargetKind::Registers);
    if (t == nullptr || value == nullptr) return -1;
    *value = registerByte(*t, static_cast<uint8_t>(command), 0);
    return 0;
}

int zelsim_set_target_byte(unsigned node, unsigned port, unsigned address, unsigned command,
                           uint8_t value) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Target *t = targetOf(s, node, port, address, TargetKind::Registers);
    if (t == nullptr) return -1;
    registerByte(*t, static_cast<uint8_t>(command), 0) = value;
    return 0;
}

int zelsim_target_word(unsigned node, unsigned port, unsigned address, unsigned command,
                       uint16_t *value) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Target *t = targetOf(s, node, port, address, TargetKind::Registers);
    if (t == nullptr || value == nullptr) return -1;
    const uint8_t c = static_cast<uint8_t>(command);
    *value = static_cast<uint16_t>(registerByte(*t, c, 0) | registerByte(*t, c, 1) << 8);
    return 0;
}

int zelsim_set_target_word(unsigned node, unsigned port, unsigned address, unsigned command,
                           uint16_t value) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Target *t = targetOf(s, node, port, address, TargetKind::Registers);
    if (t == nullptr) return -1;
    const uint8_t c = static_cast<uint8_t>(command);
    registerByte(*t, c, 0) = static_cast<uint8_t>(value);
    registerByte(*t, c, 1) = static_cast<uint8_t>(value >> 8);
    return 0;
}

int zelsim_target_block(unsigned node, unsigned port, unsigned address, unsigned command,
                        uint8_t data[32], uint8_t *count) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Target *t = targetOf(s, node, port, address, TargetKind::Registers);
    if (t == nullptr || data == nullptr || count == nullptr) return -1;
    std::memset(data, 0, 32);
    const uint8_t c = static_cast<uint8_t>(command);
    auto it = t->blockLengths.find(c);
    *count = it == t->blockLengths.end() ? 0 : it->second;
    for (unsigned i = 0; i < *count; ++i) data[i] = registerByte(*t, c, i);
    return 0;
}

int zelsim_set_target_block(unsigned node, unsigned port, unsigned address, unsigned command,
                            const uint8_t *data, uint8_t count) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Target *t = targetOf(s, node, port, address, TargetKind::Registers);
    if (t == nullptr || count > 32 || (data == nullptr && count != 0)) return -1;
    const uint8_t c = static_cast<uint8_t>(command);
    for (unsigned i = 0; i < count; ++i) registerByte(*t, c, i) = data[i];
    t->blockLengths[c] = count;
    return 0;
}

int zelsim_fault_target(unsigned node, unsigned port, unsigned address, int silent,
                        uint8_t corrupt_mask) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Port *p = portOf(s, node, port);
    Target *t = p == nullptr ? nullptr : p->target(address);
    if (t == nullptr) return -1;
    t->silent = silent != 0;
    t->corruptMask = corrupt_mask;
    return 0;
}

int zelsim_hold_bus(unsigned node, unsigned port) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Port *p = portOf(s, node, port);
    if (p == nullptr) return -1;
    p->lockOwner = kLockHeldByFault;
    p->lockOwnerDescriptor = kLockHeldByFaultDescriptor;
    return 0;
}

int zelsim_last_pec(unsigned node, unsigned port) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Port *p = portOf(s, node, port);
    return p == nullptr ? -1 : p->lastPec;
}

int zelsim_port_attribute(unsigned node, unsigned port, unsigned attribute, uint32_t *value) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Port *p = portOf(s, node, port);
    if (p == nullptr || value == nullptr) return -1;
    return visitAttribute(p->attributes, attribute, [&](auto &field) { *value = field; }) ? 0 : -1;
}

int zelsim_set_port_attribute(unsigned node, unsigned port, unsigned attribute, uint32_t value) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Port *p = portOf(s, node, port);
    if (p == nullptr) return -1;
    return visitAttribute(p->attributes, attribute,
                          [&](auto &field) { storeAttribute(field, value); })
               ? 0
               : -1;
}

int zelsim_lock_owner(unsigned node, unsigned port) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    Port *p = portOf(s, node, port);
    if (p == nullptr || p->lockOwner == 0) return -1;
    if (p->lockOwner != kLockHeldByFault && !openFileAlive(s, node, p->lockOwner)) return -1;
    return p->lockOwnerDescriptor;
}

int zelsim_register_read(unsigned node, uint32_t offset, uint32_t *value) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    if (node >= s.world.devices.size() || value == nullptr) return -1;
    return s.world.devices[node].registers->read(offset, *value);
}

int zelsim_register_write(unsigned node, uint32_t offset, uint32_t value) {
    if (refusedInSharedWorld(__func__)) return -1;
    Sim &s = sim();
    Lock lock(s.mutex);
    if (node >= s.world.devices.size()) return -1;
    return s.world.devices[node].registers->write(offset, value);
}

size_t zelsim_chassis_count(void) {
    // The stand-in chassis-query library reads the chassis here in every
    // process: the world file's, which the shared world was made from too.
    Sim &s = sim();
    Lock lock(s.mutex);
    return s.world.chassis.size();
}

int zelsim_chassis_info(size_t index, struct zelsim_chassis *info) {
    // The stand-in chassis-query library reads the chassis here in every
    // process: the world file's, which the shared world was made from too.
    Sim &s = sim();
    Lock lock(s.mutex);
    if (info == nullptr || index >= s.world.chassis.size()) return -1;
    const Chassis &c = s.world.chassis[index];
    info->number = c.number;
    copyText(info->model, c.model);
    copyText(info->vendor, c.vendor);
    copyText(info->serial, c.serial);
    copyText(info->slot1, c.slot1);
    return 0;
}

void zelsim_set_virtual_time(int on) {
    if (refusedInSharedWorld(__func__)) return;
    setVirtualTime(on != 0);
}
int zelsim_virtual_time(void) {
    if (refusedInSharedWorld(__func__)) return -1;
    return virtualTime() ? 1 : 0;
}
uint64_t zelsim_virtual_ns(void) {
    if (refusedInSharedWorld(__func__)) return 0;
    return virtualNow();
}
uint64_t zelsim_nanosleep_calls(void) {
    if (refusedInSharedWorld(__func__)) return 0;
    return nanosleepCalls();
}
void zelsim_reset_virtual_clock(void) {
    if (refusedInSharedWorld(__func__)) return;
    resetVirtualClock();
}

void zelsim_set_smbios_path(const char *path) {
    Sim &s = sim();
    Lock lock(s.mutex);
    s.smbiosPath = path == nullptr ? "" : path;
}

int zelsim_command_info(unsigned number, struct zelsim_command *info) {
    const Command *command = findCommand(number);
    if (command == nullptr || info == nullptr) return -1;
    info->number = command->number;
    info->request = command->request;
    info->in_size = command->inSize;
    info->out_size = command->outSize;
    info->name = command->name;
    info->fields = command->fields;
    info->field_count = command->fieldCount();
    return 0;
}

}  // extern "C"
