// The session record behind the public tSMBusHandle.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "controller/iSMBusController.h"

struct tSMBusHandle {
    nZELSMBUS000::iSMBusController *controller;  // owned
    // Set only through attribute 1001, possibly while another thread runs
    // transactions on the session, which consult it.
    std::atomic<uint8_t> unrestricted;
    uint64_t protectedAddresses[2];  // bit i: 7-bit address i is protected

    bool isProtected(uint8_t address) const {
        return (protectedAddresses[address >> 7] >> ((address >> 1) & 63)) & 1u;
    }
};

// Handles are allocated as raw memory and filled in field by field.
static_assert(std::is_trivially_default_constructible_v<tSMBusHandle>);
