// Holds a controller's flash writer lock as the tool takes it, for the tool's
// tests under the simulator launcher:
//   flash-lock-holder RESOURCE
// prints "locked" once it holds the lock (or the tool's error and exits 1),
// then keeps it until its standard input ends.
#include <zelsmbus.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "failure.h"
#include "flashWriterLock.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::cerr << "usage: flash-lock-holder RESOURCE\n";
        return 2;
    }
    tSMBusHandle *handle = nullptr;
    const int32_t opened = ZELSMBusOpen(argv[1], &handle);
    if (opened < 0) {
        std::cerr << "cannot open " << argv[1] << ": " << opened << '\n';
        return 1;
    }
    int result = 0;
    try {
        const zelsmbus_tool::FlashWriterLock held(handle, argv[1]);
        std::cout << "locked" << std::endl;
        std::string line;
        while (std::getline(std::cin, line)) {
        }
    } catch (const zelsmbus_tool::ToolError &error) {
        std::cerr << error.what() << '\n';
        result = 1;
    }
    ZELSMBusClose(handle);
    return result;
}
