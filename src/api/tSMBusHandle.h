// The session record behind the public tSMBusHandle.
#pragma once

#include <cstdint>

#include "controller/iSMBusController.h"

struct tSMBusHandle {
    nZELSMBUS000::iSMBusController *controller;  // owned
    uint8_t unrestricted;                         // set only through attribute 1001
    uint64_t protectedAddresses[2];               // bit i: 7-bit address i is protected

    bool isProtected(uint8_t address) const {
        return (protectedAddresses[address >> 7] >> ((address >> 1) & 63)) & 1u;
    }
};
