// Walk over the driver's device-interface directories of one interface class
// under /proc/driver/zel/, with readers for each directory's files.
#pragma once

#include <glob.h>

#include <cstddef>
#include <cstdint>

#include "status/tStatus.h"

namespace nZELSMBUS000::nZELOSAL000 {

// Names one driver node. The text comes first: the controller factory hands
// the record's start to open() as the node path.
struct tDeviceInterfacePath {
    char path[256];   // NUL-terminated, at most 255 characters
    uint64_t length;  // bytes of path including the NUL
};

static_assert(offsetof(tDeviceInterfacePath, path) == 0, "the path leads the record");

class tDeviceInterfaceIterator {
public:
    // Searches the directories of the class. Finding none is not an error;
    // a failing search sets ZELSMBUS_ERROR_SYSTEM and leaves the walk empty.
    tDeviceInterfaceIterator(const char *interfaceClass, tStatus &status);
    ~tDeviceInterfaceIterator();

    tDeviceInterfaceIterator(const tDeviceInterfaceIterator &) = delete;
    tDeviceInterfaceIterator &operator=(const tDeviceInterfaceIterator &) = delete;

    bool atEnd() const;
    // Moves to the next directory; only valid while not at the end.
    void next();

    // Reads the current directory's interfacePath file into the record.
    void getInterfacePath(tDeviceInterfacePath *record, tStatus &status);
    // Reads properties/<name> of the current directory as raw bytes;
    // sizeOut (may be null) receives the file's byte count.
    void getProperty(const char *name, void *destination, size_t capacity, size_t *sizeOut,
                     tStatus &status);

private:
    glob_t matches_;
    char **cursor_;  // current entry of matches_; null when the search found nothing
};

}  // namespace nZELSMBUS000::nZELOSAL000
