// The stand-in chassis-query library (sim/qpxi), loaded by the test itself:
// the library under test then finds the same instance by its soname when it
// opens "libzelqpxi.so.1", and the test reaches the stand-in's fault and
// handle controls. Without the stand-in (ZELQPXI_STAND_IN undefined) load()
// says so and the controls do nothing.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "zelqpxiSim.h"

namespace chassis_test {

// The controls reach the instance that is loaded, if any; load() or a tScope
// loads it.
class tChassisStandIn {
public:
    // Loads it for the rest of the process. False when it was not built.
    static bool load() {
        static void *const kept = open();
        return kept != nullptr;
    }

    // Loads it while the scope lives, so that a later test can find the
    // chassis-query library missing again.
    class tScope {
    public:
        tScope() : handle_(open()) {}
        ~tScope() {
            if (handle_ != nullptr) dlclose(handle_);
        }
        tScope(const tScope &) = delete;
        tScope &operator=(const tScope &) = delete;
        bool loaded() const { return handle_ != nullptr; }

    private:
        void *handle_;
    };

    static void fail(const char *entryPoint, int32_t code, unsigned nth) {
        if (auto f = control<decltype(&zelqpxi_sim_fail)>("zelqpxi_sim_fail")) {
            f(entryPoint, code, nth);
        }
    }
    static unsigned long calls(const char *entryPoint) {
        auto f = control<decltype(&zelqpxi_sim_calls)>("zelqpxi_sim_calls");
        return f != nullptr ? f(entryPoint) : 0;
    }
    static void reset() {
        if (auto f = control<decltype(&zelqpxi_sim_reset)>("zelqpxi_sim_reset")) f();
    }
    static unsigned openItems() { return count("zelqpxi_sim_open_items"); }
    static unsigned openContainers() { return count("zelqpxi_sim_open_containers"); }
    static unsigned badHandles() { return count("zelqpxi_sim_bad_handles"); }

    // Every item and container handed out was given back, each exactly once.
    static void expectEverythingGivenBack() {
        EXPECT_EQ(openItems(), 0u);
        EXPECT_EQ(openContainers(), 0u);
        EXPECT_EQ(badHandles(), 0u);
    }

private:
    static void *open() {
#ifdef ZELQPXI_STAND_IN
        return dlopen(ZELQPXI_STAND_IN, RTLD_NOW | RTLD_GLOBAL);
#else
        return nullptr;
#endif
    }
    // The control function of the loaded instance; null when none is loaded.
    template <typename Function>
    static Function control(const char *name) {
#ifdef ZELQPXI_STAND_IN
        void *loaded = dlopen(ZELQPXI_STAND_IN, RTLD_NOW | RTLD_NOLOAD);
        if (loaded == nullptr) return nullptr;
        auto function = reinterpret_cast<Function>(dlsym(loaded, name));
        dlclose(loaded);  // the instance stays: whoever loaded it holds it
        return function;
#else
        (void)name;
        return nullptr;
#endif
    }
    static unsigned count(const char *name) {
        auto f = control<unsigned (*)()>(name);
        return f != nullptr ? f() : 0;
    }
};

}  // namespace chassis_test
