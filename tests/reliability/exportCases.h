// One successful call of every export against the built-in world, split into
// what is prepared beforehand, the call itself and the tidying afterwards, so
// that a test can watch (and fail) exactly the system calls the export makes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zelsmbus.h"

namespace zelrel {

enum class tHandleKind { none, system, remote };

// What one case works on: the test's own long-lived handle, and room for
// what the export hands back.
struct tCaseContext {
    tSMBusHandle *handle = nullptr;    // usable before and after every run
    tSMBusHandle *extra = nullptr;     // prepared for / returned by an open or close
    tSMBusHandle **list = nullptr;     // returned by the list calls
    uint32_t listCount = 0;
    char *names = nullptr;             // returned by the name listing
    uint32_t value = 0;                // an attribute value chosen beforehand
};

struct tExportCase {
    std::string name;
    tHandleKind handleKind;
    std::function<void(tCaseContext &)> prepare;  // not watched; may be empty
    std::function<int32_t(tCaseContext &)> run;   // the export: its code (-1 for a null result)
    std::function<void(tCaseContext &)> finish;   // not watched; always runs; may be empty
    // What a call without faults returns.
    int32_t expected = 0;
    // Close and its list form report nothing (they always succeed): a fault
    // must still leak nothing, but the code stays 0.
    bool reportsFailures = true;
    // What the call delivered (not watched), for runs that succeed although a
    // call failed: they must deliver exactly what the run without faults did,
    // i.e. the failure was absorbed (a retry, a query whose answer was not
    // needed). Empty: every success after a fault is a finding.
    std::function<std::string(tCaseContext &)> fingerprint = nullptr;
    // Whether a faulted run's fingerprint is acceptable; empty: only the
    // baseline's own.
    std::function<bool(const std::string &baseline, const std::string &run)> acceptable = nullptr;
};

std::vector<tExportCase> exportCases();

// A transaction that must work on a usable handle of the given kind.
int32_t probeHandle(tSMBusHandle *handle, tHandleKind kind);

// Which port a handle drives: PCI identity, location, port and port text.
std::string handleIdentity(tSMBusHandle *handle);

}  // namespace zelrel
