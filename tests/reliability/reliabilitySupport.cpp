#include "reliabilitySupport.h"

#include <dirent.h>

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

}  // namespace zelrel
