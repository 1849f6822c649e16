#include "reliabilitySupport.h"

#include <dirent.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace zelrel {

const char *const kChassisEntryPoints[17] = {
    "zelqpxi_openPXISession",          "zelqpxi_openChassisByNumber",
    "zelqpxi_openSlotByNumber",        "zelqpxi_openDeviceByAddr",
    "zelqpxi_openContainingItem",      "zelqpxi_getU32Attribute",
    "zelqpxi_getStringAttribute",      "zelqpxi_getItemContainer",
    "zelqpxi_duplicateItemContainer",  "zelqpxi_ItemIterator_begin",
    "zelqpxi_ItemIterator_nextItem",   "zelqpxi_ItemIterator_end",
    "zelqpxi_destroyItemContainer",    "zelqpxi_duplicate",
    "zelqpxi_close",                   "zelqpxi_waitForSessionInvalidation",
    "zelqpxi_cancelWaitForInvalidation",
};

int openDescriptorCount() {
    DIR *directory = opendir("/proc/self/fd");
    if (directory == nullptr) return -1;
    int count = 0;
    while (dirent *entry = readdir(directory)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(directory);
    return count - 1;  // the directory's own descriptor
}

long residentKilobytes() {
    FILE *status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long kilobytes = -1;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmRSS: %ld kB", &kilobytes) == 1) break;
    }
    std::fclose(status);
    return kilobytes;
}

namespace {

void *gStandIn = nullptr;

template <typename F>
F control(const char *name) {
    return gStandIn != nullptr ? reinterpret_cast<F>(dlsym(gStandIn, name)) : nullptr;
}

}  // namespace

bool tChassisQuery::load() {
#ifdef ZELREL_QPXI_PATH
    if (gStandIn == nullptr) gStandIn = dlopen(ZELREL_QPXI_PATH, RTLD_NOW | RTLD_GLOBAL);
#endif
    return gStandIn != nullptr;
}

void tChassisQuery::fail(const char *entryPoint, int32_t code, unsigned nth) {
    if (auto f = control<void (*)(const char *, int32_t, unsigned)>("zelqpxi_sim_fail"))
        f(entryPoint, code, nth);
}

unsigned long tChassisQuery::calls(const char *entryPoint) {
    auto f = control<unsigned long (*)(const char *)>("zelqpxi_sim_calls");
    return f != nullptr ? f(entryPoint) : 0;
}

void tChassisQuery::reset() {
    if (auto f = control<void (*)()>("zelqpxi_sim_reset")) f();
}

unsigned tChassisQuery::openItems() {
    auto f = control<unsigned (*)()>("zelqpxi_sim_open_items");
    return f != nullptr ? f() : 0;
}

unsigned tChassisQuery::openContainers() {
    auto f = control<unsigned (*)()>("zelqpxi_sim_open_containers");
    return f != nullptr ? f() : 0;
}

unsigned tChassisQuery::badHandles() {
    auto f = control<unsigned (*)()>("zelqpxi_sim_bad_handles");
    return f != nullptr ? f() : 0;
}

}  // namespace zelrel
