// Stand-in chassis-query library: serves the chassis of the simulated world.
//
// Items are sessions, chassis and slots (slot 1 of every chassis). A handle is
// a number from a table of open items; containers hold item descriptions and
// hand out a fresh handle for each item their iterator returns. Failures are
// reported through the caller's status record, whose text grows only through
// the record's own resize routine.
#include <zelsim.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "zelqpxiSim.h"

#define ZELQPXI_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The status record as it crosses the library boundary (24 bytes).
struct StatusRecord {
  int32_t code;
  uint32_t capacity;
  bool (*resize)(StatusRecord *record, int64_t size);
  char *text;
};
static_assert(sizeof(StatusRecord) == 24, "status record layout");

enum class Kind { Session, Chassis, Slot };

struct ItemInfo {
  Kind kind;
  uint32_t chassis; // chassis number (chassis and slot items)
  uint32_t slot;    // slot number (slot items)
};

struct OpenItem {
  ItemInfo info;
  std::string lastText; // storage behind getStringAttribute's result
};

struct Fault {
  std::string entryPoint;
  int32_t code;
  unsigned remaining;
};

struct State {
  std::mutex mutex;
  uintptr_t nextHandle = 0x1000;
  std::map<uintptr_t, OpenItem> items;
  std::map<uintptr_t, std::vector<ItemInfo>> containers;
  std::map<std::string, unsigned long> calls;
  std::vector<Fault> faults;
  const char *current = ""; // entry point being served
  unsigned badHandles = 0;
};

State &state() {
  static State s;
  return s;
}

// Writes `json` into the record through its own resize routine, keeping the
// layout: text, zero fill, 'J' in the last byte.
void describe(StatusRecord *record, const std::string &json) {
  if (record->resize == nullptr) return;
  if (!record->resize(record, static_cast<int64_t>(json.size()) + 2)) return;
  if (record->text == nullptr || record->capacity < json.size() + 2) return;
  std::memcpy(record->text, json.data(), json.size());
  std::memset(record->text + json.size(), 0, record->capacity - 1 - json.size());
  record->text[record->capacity - 1] = 'J';
}

// Reports a failure unless the record already holds an error.
void fail(StatusRecord *record, const char *entryPoint, int32_t code, const char *why) {
  if (record == nullptr || record->code < 0) return;
  record->code = code;
  describe(record, std::string("{\"zelqpxi_sim\":\"") + why + "\",\"entry_point\":\"" +
                       entryPoint + "\",\"code\":" + std::to_string(code) + "}");
}

// Counts the call and tells whether an injected failure is due now.
bool injected(State &s, const char *entryPoint, int32_t &code) {
  ++s.calls[entryPoint];
  for (auto it = s.faults.begin(); it != s.faults.end(); ++it) {
    if (it->entryPoint == entryPoint && --it->remaining == 0) {
      code = it->code;
      s.faults.erase(it);
      return true;
    }
  }
  return false;
}

// Runs one entry point under the lock: counts it, applies an injected failure.
template <typename Result, typename Body>
Result call(const char *entryPoint, StatusRecord *record, Result failed, Body body) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.current = entryPoint;
  int32_t code = 0;
  if (injected(s, entryPoint, code)) {
    fail(record, entryPoint, code, "injected failure");
    return failed;
  }
  return body(s);
}

bool findChassis(uint32_t number, zelsim_chassis &info) {
  const size_t count = zelsim_chassis_count();
  for (size_t i = 0; i < count; ++i) {
    if (zelsim_chassis_info(i, &info) == 0 && info.number == number) return true;
  }
  return false;
}

void *handOut(State &s, const ItemInfo &info) {
  const uintptr_t handle = s.nextHandle++;
  s.items[handle] = OpenItem{info, std::string()};
  return reinterpret_cast<void *>(handle);
}

OpenItem *lookUp(State &s, void *handle) {
  auto it = s.items.find(reinterpret_cast<uintptr_t>(handle));
  if (it == s.items.end()) {
    ++s.badHandles;
    return nullptr;
  }
  return &it->second;
}

std::vector<ItemInfo> *lookUpContainer(State &s, void *handle) {
  auto it = s.containers.find(reinterpret_cast<uintptr_t>(handle));
  if (it == s.containers.end()) {
    ++s.badHandles;
    return nullptr;
  }
  return &it->second;
}

constexpr uint32_t kSlotCount = 1; // only slot 1 is modelled

} // namespace

ZELQPXI_EXPORT void *zelqpxi_openPXISession(uint32_t value, StatusRecord *status) {
  static_cast<void>(value);
  return call<void *>(__func__, status, nullptr,
                      [&](State &s) { return handOut(s, ItemInfo{Kind::Session, 0, 0}); });
}

ZELQPXI_EXPORT void *zelqpxi_openChassisByNumber(void *session, uint32_t number,
                                                 StatusRecord *status) {
  return call<void *>(__func__, status, nullptr, [&](State &s) -> void * {
    OpenItem *item = lookUp(s, session);
    if (item == nullptr || item->info.kind != Kind::Session) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "not a session");
      return nullptr;
    }
    zelsim_chassis info;
    if (!findChassis(number, info)) {
      fail(status, s.current, ZELQPXI_SIM_NOT_FOUND, "no such chassis");
      return nullptr;
    }
    return handOut(s, ItemInfo{Kind::Chassis, number, 0});
  });
}

#ifndef ZELQPXI_SIM_OMIT_OPEN_SLOT
ZELQPXI_EXPORT void *zelqpxi_openSlotByNumber(void *chassis, uint32_t number,
                                              StatusRecord *status) {
  return call<void *>(__func__, status, nullptr, [&](State &s) -> void * {
    OpenItem *item = lookUp(s, chassis);
    if (item == nullptr || item->info.kind != Kind::Chassis) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "not a chassis");
      return nullptr;
    }
    zelsim_chassis info;
    if (number < 1 || number > kSlotCount || !findChassis(item->info.chassis, info)) {
      fail(status, s.current, ZELQPXI_SIM_NOT_FOUND, "no such slot");
      return nullptr;
    }
    return handOut(s, ItemInfo{Kind::Slot, item->info.chassis, number});
  });
}
#endif

ZELQPXI_EXPORT void *zelqpxi_openDeviceByAddr(void *session, const uint32_t *address,
                                              StatusRecord *status) {
  static_cast<void>(address);
  return call<void *>(__func__, status, nullptr, [&](State &s) -> void * {
    if (lookUp(s, session) == nullptr) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "not a session");
      return nullptr;
    }
    fail(status, s.current, ZELQPXI_SIM_NOT_FOUND, "no device at this address");
    return nullptr;
  });
}

ZELQPXI_EXPORT void *zelqpxi_openContainingItem(void *item, uint32_t kind, StatusRecord *status) {
  return call<void *>(__func__, status, nullptr, [&](State &s) -> void * {
    OpenItem *open = lookUp(s, item);
    if (open == nullptr) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "unknown item");
      return nullptr;
    }
    if (kind == 1 && open->info.kind == Kind::Slot) {
      return handOut(s, ItemInfo{Kind::Chassis, open->info.chassis, 0});
    }
    fail(status, s.current, ZELQPXI_SIM_NOT_FOUND, "no containing item of this kind");
    return nullptr;
  });
}

ZELQPXI_EXPORT uint32_t zelqpxi_getU32Attribute(void *item, uint32_t attribute,
                                                StatusRecord *status) {
  return call<uint32_t>(__func__, status, 0u, [&](State &s) -> uint32_t {
    OpenItem *open = lookUp(s, item);
    if (open == nullptr) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "unknown item");
      return 0;
    }
    if (open->info.kind == Kind::Chassis && attribute == 4096) return open->info.chassis;
    if (open->info.kind == Kind::Slot && attribute == 8192) return open->info.slot;
    fail(status, s.current, ZELQPXI_SIM_NO_ATTRIBUTE, "no such attribute");
    return 0;
  });
}

ZELQPXI_EXPORT const char *zelqpxi_getStringAttribute(void *item, uint32_t attribute,
                                                      StatusRecord *status) {
  return call<const char *>(__func__, status, nullptr, [&](State &s) -> const char * {
    OpenItem *open = lookUp(s, item);
    if (open == nullptr) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "unknown item");
      return nullptr;
    }
    zelsim_chassis info;
    const char *text = nullptr;
    if (open->info.kind != Kind::Session && findChassis(open->info.chassis, info)) {
      if (open->info.kind == Kind::Chassis) {
        text = attribute == 4096 ? info.model
               : attribute == 4097 ? info.vendor
               : attribute == 4100 ? info.serial
                                   : nullptr;
      } else if (attribute == 8201) {
        text = info.slot1;
      }
    }
    if (text == nullptr) {
      fail(status, s.current, ZELQPXI_SIM_NO_ATTRIBUTE, "no such attribute");
      return nullptr;
    }
    open->lastText = text;
    return open->lastText.c_str();
  });
}

ZELQPXI_EXPORT void *zelqpxi_getItemContainer(void *item, uint32_t kind, StatusRecord *status) {
  return call<void *>(__func__, status, nullptr, [&](State &s) -> void * {
    OpenItem *open = lookUp(s, item);
    if (open == nullptr) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "unknown item");
      return nullptr;
    }
    std::vector<ItemInfo> members;
    if (open->info.kind == Kind::Session && kind == 0) {
      const size_t count = zelsim_chassis_count();
      for (size_t i = 0; i < count; ++i) {
        zelsim_chassis info;
        if (zelsim_chassis_info(i, &info) == 0) {
          members.push_back(ItemInfo{Kind::Chassis, info.number, 0});
        }
      }
    } else if (open->info.kind == Kind::Chassis && kind == 4096) {
      for (uint32_t slot = 1; slot <= kSlotCount; ++slot) {
        members.push_back(ItemInfo{Kind::Slot, open->info.chassis, slot});
      }
    } else if (!(open->info.kind == Kind::Chassis && kind == 4097) &&
               !(open->info.kind == Kind::Slot && kind == 8192)) {
      fail(status, s.current, ZELQPXI_SIM_NOT_FOUND, "no container of this kind");
      return nullptr;
    }
    const uintptr_t handle = s.nextHandle++;
    s.containers[handle] = std::move(members);
    return reinterpret_cast<void *>(handle);
  });
}

ZELQPXI_EXPORT void *zelqpxi_duplicateItemContainer(void *container, StatusRecord *status) {
  return call<void *>(__func__, status, nullptr, [&](State &s) -> void * {
    std::vector<ItemInfo> *members = lookUpContainer(s, container);
    if (members == nullptr) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "unknown container");
      return nullptr;
    }
    const uintptr_t handle = s.nextHandle++;
    std::vector<ItemInfo> copy = *members;
    s.containers[handle] = std::move(copy);
    return reinterpret_cast<void *>(handle);
  });
}

ZELQPXI_EXPORT void *zelqpxi_ItemIterator_begin(void *container, StatusRecord *status) {
  return call<void *>(__func__, status, nullptr, [&](State &s) -> void * {
    if (lookUpContainer(s, container) == nullptr) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "unknown container");
    }
    return nullptr; // position 0
  });
}

ZELQPXI_EXPORT void *zelqpxi_ItemIterator_nextItem(void *container, void **iterator,
                                                   StatusRecord *status) {
  return call<void *>(__func__, status, nullptr, [&](State &s) -> void * {
    std::vector<ItemInfo> *members = lookUpContainer(s, container);
    if (members == nullptr || iterator == nullptr) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "unknown container");
      return nullptr;
    }
    const uintptr_t position = reinterpret_cast<uintptr_t>(*iterator);
    if (position >= members->size()) {
      fail(status, s.current, ZELQPXI_SIM_ITERATION_DONE, "no more items");
      return nullptr;
    }
    *iterator = reinterpret_cast<void *>(position + 1);
    return handOut(s, (*members)[position]);
  });
}

ZELQPXI_EXPORT void *zelqpxi_ItemIterator_end(void *container, StatusRecord *status) {
  return call<void *>(__func__, status, nullptr, [&](State &s) -> void * {
    std::vector<ItemInfo> *members = lookUpContainer(s, container);
    if (members == nullptr) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "unknown container");
      return nullptr;
    }
    return reinterpret_cast<void *>(static_cast<uintptr_t>(members->size()));
  });
}

ZELQPXI_EXPORT int32_t zelqpxi_destroyItemContainer(void *container) {
  return call<int32_t>(__func__, nullptr, 0, [&](State &s) -> int32_t {
    if (lookUpContainer(s, container) == nullptr) return ZELQPXI_SIM_INVALID_HANDLE;
    s.containers.erase(reinterpret_cast<uintptr_t>(container));
    return 0;
  });
}

ZELQPXI_EXPORT void *zelqpxi_duplicate(void *item, StatusRecord *status) {
  return call<void *>(__func__, status, nullptr, [&](State &s) -> void * {
    OpenItem *open = lookUp(s, item);
    if (open == nullptr) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "unknown item");
      return nullptr;
    }
    const ItemInfo info = open->info;
    return handOut(s, info);
  });
}

ZELQPXI_EXPORT int32_t zelqpxi_close(void *item) {
  return call<int32_t>(__func__, nullptr, 0, [&](State &s) -> int32_t {
    if (item == nullptr) return 0;
    if (lookUp(s, item) == nullptr) return ZELQPXI_SIM_INVALID_HANDLE;
    s.items.erase(reinterpret_cast<uintptr_t>(item));
    return 0;
  });
}

ZELQPXI_EXPORT uint32_t zelqpxi_waitForSessionInvalidation(void *session, uint32_t value,
                                                           StatusRecord *status) {
  // The simulated world never invalidates a session: the wait ends at once.
  static_cast<void>(value);
  return call<uint32_t>(__func__, status, 0u, [&](State &s) -> uint32_t {
    if (lookUp(s, session) == nullptr) {
      fail(status, s.current, ZELQPXI_SIM_INVALID_HANDLE, "not a session");
    }
    return 0;
  });
}

#ifndef ZELQPXI_SIM_OMIT_CANCEL_WAIT
ZELQPXI_EXPORT int32_t zelqpxi_cancelWaitForInvalidation(void *session) {
  return call<int32_t>(__func__, nullptr, 0, [&](State &s) -> int32_t {
    return lookUp(s, session) != nullptr ? 0 : ZELQPXI_SIM_INVALID_HANDLE;
  });
}
#endif

// ---- control functions for tests ------------------------------------------

ZELQPXI_EXPORT void zelqpxi_sim_fail(const char *entry_point, int32_t code, unsigned nth) {
  if (entry_point == nullptr || nth == 0) return;
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.faults.push_back(Fault{entry_point, code, nth});
}

ZELQPXI_EXPORT unsigned long zelqpxi_sim_calls(const char *entry_point) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.calls.find(entry_point != nullptr ? entry_point : "");
  return it != s.calls.end() ? it->second : 0;
}

ZELQPXI_EXPORT void zelqpxi_sim_reset(void) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.faults.clear();
  s.calls.clear();
  s.badHandles = 0;
}

ZELQPXI_EXPORT unsigned zelqpxi_sim_open_items(void) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return static_cast<unsigned>(s.items.size());
}

ZELQPXI_EXPORT unsigned zelqpxi_sim_open_containers(void) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return static_cast<unsigned>(s.containers.size());
}

ZELQPXI_EXPORT unsigned zelqpxi_sim_bad_handles(void) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.badHandles;
}
