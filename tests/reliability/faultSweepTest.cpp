// Systematic fault injection: every export is run once to record the system
// calls and driver commands it makes, then once more for each of them with
// exactly that call failing (an errno; for an ioctl also a negative driver
// status word). Every such run must
//  * report an error - or, where the library absorbs the failure (a retry, a
//    query whose answer it did not need), deliver exactly what the run
//    without faults delivered;
//  * leave no descriptor open that was not open before;
//  * leave the test's own handle usable.
// Memory leaks show up in the sanitizer build (LeakSanitizer at exit).
//
// Exports that make very many calls (flash work) are swept on a sample: the
// first and last calls, the first call of every kind and command, and an even
// stride through the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

#include "callInterposer.h"
#include "exportCases.h"
#include "reliabilitySupport.h"

namespace zelrel {

void PrintTo(const tExportCase &c, std::ostream *out) { *out << c.name; }

namespace {

constexpr size_t kSweepAll = 400;   // up to this many calls every one is failed
constexpr size_t kSampleEdge = 16;  // otherwise: this many at each end
constexpr size_t kSampleMiddle = 24;

std::vector<size_t> chooseOrdinals(const std::vector<tCallRecord> &calls) {
    std::set<size_t> chosen;
    const size_t n = calls.size();
    if (n <= kSweepAll) {
        for (size_t k = 1; k <= n; ++k) chosen.insert(k);
    } else {
        for (size_t k = 1; k <= kSampleEdge; ++k) {
            chosen.insert(k);
            chosen.insert(n + 1 - k);
        }
        std::set<std::pair<int, unsigned>> seen;
        for (size_t k = 1; k <= n; ++k) {
            if (seen.insert({calls[k - 1].kind, calls[k - 1].command}).second) chosen.insert(k);
        }
        for (size_t i = 1; i <= kSampleMiddle; ++i) chosen.insert(i * n / (kSampleMiddle + 1));
        chosen.erase(0);
    }
    return {chosen.begin(), chosen.end()};
}

struct tRun {
    int32_t code = 0;
    std::string fingerprint;
    bool delivered = false;     // the armed fault met its call
    int descriptorsBefore = 0;  // before the handle was opened
    int descriptorsAfter = 0;   // after it was closed again
    int32_t probe = 0;          // a transaction on the handle after the run
};

class tFaultSweep : public tSimulatorTest, public ::testing::WithParamInterface<tExportCase> {
protected:
    void TearDown() override {
        pauseRecording();
        tSimulatorTest::TearDown();
    }

    // One watched call of the export in a freshly reset world, on a fresh
    // handle, with the fault (if any) armed on `ordinal`. Resetting makes
    // every run start from the same device state, so call k of a faulted run
    // is call k of the run without faults.
    tRun runOnce(size_t ordinal, tFault fault) {
        const tExportCase &c = GetParam();
        zelsim_reset();
        if (tChassisQuery::load()) tChassisQuery::reset();
        tRun run;
        run.descriptorsBefore = openDescriptorCount();
        {
            const bool remote = c.handleKind == tHandleKind::remote;
            tSession session(remote ? kRemotePort0 : kSystemPort0);
            tCaseContext context;
            context.handle = session.get();
            if (context.handle == nullptr) {
                ADD_FAILURE() << "cannot open the test's own session";
                return run;
            }
            if (c.prepare) c.prepare(context);
            startRecording();
            if (ordinal != 0) armFault(ordinal, fault);
            run.code = c.run(context);
            pauseRecording();
            run.delivered = faultDelivered();
            zelsim_clear_faults();
            if (run.code >= 0 && c.fingerprint) run.fingerprint = c.fingerprint(context);
            if (c.finish) c.finish(context);
            run.probe = probeHandle(context.handle, remote ? tHandleKind::remote : tHandleKind::system);
        }
        run.descriptorsAfter = openDescriptorCount();
        return run;
    }
};

TEST_P(tFaultSweep, EveryFailedCallIsReportedAndReleasesEverything) {
    const tExportCase &c = GetParam();
    const tRun baseline = runOnce(0, tFault::errnoValue);
    ASSERT_EQ(baseline.code, c.expected) << "baseline of " << c.name;
    ASSERT_EQ(baseline.descriptorsAfter, baseline.descriptorsBefore);
    ASSERT_EQ(baseline.probe, 0);
    const std::vector<tCallRecord> calls = recordedCalls();
    if (c.expected < 0) {
        EXPECT_TRUE(calls.empty()) << c.name << " fails without touching the driver";
        return;
    }

    std::vector<std::string> problems;
    size_t runs = 0, absorbed = 0;
    for (const tFault fault : {tFault::errnoValue, tFault::driverWord}) {
        for (const size_t ordinal : chooseOrdinals(calls)) {
            const tCallRecord &call = calls[ordinal - 1];
            if (fault == tFault::driverWord && call.kind != ZELSIM_CALL_IOCTL) continue;
            ++runs;
            std::ostringstream where;
            where << c.name << ": call " << ordinal << "/" << calls.size() << " ("
                  << describe(call) << ") failed with "
                  << (fault == tFault::errnoValue ? "an errno" : "a driver word");
            const tRun run = runOnce(ordinal, fault);
            if (!run.delivered) {
                problems.push_back(where.str() + ": the run no longer reached that call");
                continue;
            }
            // A close that fails still closes; nobody can act on its error.
            const bool mustReport = c.reportsFailures && call.kind != ZELSIM_CALL_CLOSE;
            if (mustReport && run.code >= 0) {
                const bool same = c.acceptable ? c.acceptable(baseline.fingerprint, run.fingerprint)
                                               : run.fingerprint == baseline.fingerprint;
                if (c.fingerprint && same) {
                    ++absorbed;
                } else {
                    problems.push_back(where.str() + ": returned " + std::to_string(run.code) +
                                       (c.fingerprint ? " with [" + run.fingerprint + "] instead of [" +
                                                            baseline.fingerprint + "]"
                                                      : ""));
                }
            }
            if (run.descriptorsAfter != run.descriptorsBefore)
                problems.push_back(where.str() + ": descriptors " + std::to_string(run.descriptorsBefore) +
                                   " -> " + std::to_string(run.descriptorsAfter));
            if (run.probe != 0)
                problems.push_back(where.str() + ": handle unusable afterwards (" +
                                   std::to_string(run.probe) + ")");
        }
    }
    std::ostringstream report;
    for (const std::string &p : problems) report << "\n  " << p;
    EXPECT_TRUE(problems.empty()) << problems.size() << " of " << runs << " runs:" << report.str();
    std::printf("[ sweep    ] %s: %zu calls, %zu faulted runs, %zu absorbed\n", c.name.c_str(),
                calls.size(), runs, absorbed);
}

std::string caseName(const ::testing::TestParamInfo<tExportCase> &info) {
    std::string name;
    for (char ch : info.param.name) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryExport, tFaultSweep, ::testing::ValuesIn(exportCases()), caseName);

}  // namespace
}  // namespace zelrel
