// The public header in C++: C linkage, and the codes usable as constants.
#include <type_traits>

#include "zelsmbus.h"

static_assert(std::is_same<decltype(&ZELSMBusClose), int32_t (*)(tSMBusHandle *)>::value,
              "ZELSMBusClose keeps its C signature");
static_assert(ZELSMBUS_ERROR_NOT_FOUND == -52006, "status codes are compile-time constants");

extern "C" int32_t (*const zelsmbusHeaderCxxOpen)(const char *, tSMBusHandle **) = ZELSMBusOpen;
