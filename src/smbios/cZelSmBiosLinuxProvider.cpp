#include "smbios/cZelSmBiosLinuxProvider.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>

#include "status/memory.h"
#include "zelsmbus.h"

namespace nZELSMBUS000::nZELSMBIOS_1_1 {

namespace {

// Closes the dump on every way out of load().
class tDumpFile {
public:
    explicit tDumpFile(int descriptor) noexcept : descriptor_(descriptor) {}
    ~tDumpFile() { ::close(descriptor_); }
    tDumpFile(const tDumpFile &) = delete;
    tDumpFile &operator=(const tDumpFile &) = delete;
    int descriptor() const noexcept { return descriptor_; }

private:
    int descriptor_;
};

}  // namespace

void cZelSmBiosLinuxProvider::load(tStatus &status) {
    if (status.isFatal()) {
        return;
    }
    const int descriptor = ::open(kSmBiosDumpPath, O_RDONLY | O_CLOEXEC);
    if (descriptor == -1) {
        ZELSMBUS_SET_CODE(status, -240050);
        return;
    }
    tDumpFile dump(descriptor);

    std::string header;
    for (;;) {
        char byte;
        if (::read(dump.descriptor(), &byte, 1) != 1) {
            ZELSMBUS_SET_CODE(status, -240053);
            return;
        }
        if (byte == '\0') {
            break;
        }
        try {
            header.push_back(byte);
        } catch (const std::bad_alloc &) {
            // The byte is lost; reading goes on so that the file position stays right.
            ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OUT_OF_MEMORY);
        }
    }
    if (!status.isFatal()) {
        if (header.size() < kHeaderTextSize) {
            std::memcpy(headerText, header.c_str(), header.size() + 1);
        } else {
            headerText[0] = '\0';
        }
    }

    uint16_t size;
    if (::read(dump.descriptor(), &size, sizeof size) != static_cast<ssize_t>(sizeof size)) {
        ZELSMBUS_SET_CODE(status, -240053);
        return;
    }
    // A table from an earlier load is given back rather than leaked.
    release(tableData);
    tableSize = size;
    tableData = static_cast<uint8_t *>(allocate(tableSize, status));
    if (status.isFatal()) {
        release(tableData);
        tableData = nullptr;
        return;
    }
    if (tableSize != 0 &&
        ::read(dump.descriptor(), tableData, tableSize) != static_cast<ssize_t>(tableSize)) {
        ZELSMBUS_SET_CODE(status, -240053);
        return;
    }
}

}  // namespace nZELSMBUS000::nZELSMBIOS_1_1
