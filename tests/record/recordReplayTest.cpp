// zelsim record and zelsim replay, run as a user runs them: the launcher,
// the preload libraries, the tool and a small driver client as separate
// processes, in a scratch folder and a runtime directory of their own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "traceFormat.h"

namespace {

using zelsim::trace::Record;
using zelsim::trace::Trace;

const std::string kBuild = ZELSIM_TEST_BUILD_DIR;
const std::string kLauncher = kBuild + "/sim/zelsim";
const std::string kTool = kBuild + "/tools/zelsmbus/zelsmbus";
const std::string kProbe = kBuild + "/tests/record_probe";

struct Outcome {
    std::string out;
    std::string err;
    int status = -1;
};

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class RecordReplay : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::string &program : {kLauncher, kTool, kProbe}) {
            if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << program << " not built";
        }
        std::string pattern = "/tmp/zelsim-record-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        scratch_ = pattern;
        ASSERT_EQ(mkdir(path("tmp").c_str(), 0700), 0);
    }
    void TearDown() override {
        if (!scratch_.empty()) {
            EXPECT_EQ(std::system(("rm -rf '" + scratch_ + "'").c_str()), 0);
        }
    }

    // A shell command in the scratch folder, with a runtime directory and a
    // temporary folder of its own (no started world of the user's is joined,
    // and what the launcher leaves behind is told apart from other tests').
    Outcome shell(const std::string &command) {
        std::string err = scratch_ + "/stderr";
        std::string full = "cd '" + scratch_ + "' && ZELSIM_RUNTIME_DIR='" + scratch_ +
                           "/run' TMPDIR='" + scratch_ + "/tmp' " + command + " 2>'" + err + "'";
        Outcome run;
        FILE *pipe = popen(full.c_str(), "r");
        if (pipe == nullptr) return run;
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
        int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.err = readFile(err);
        return run;
    }

    Trace trace(const std::string &name) {
        Trace t;
        std::string error;
        EXPECT_TRUE(zelsim::trace::readTrace(scratch_ + "/" + name, t, error)) << error;
        return t;
    }

    std::string path(const std::string &name) const { return scratch_ + "/" + name; }

    std::string scratch_;
};

// The recorder stacked over the simulator's own preload, passing requests
// through as it does over the real driver: the trace holds exactly what the
// world's command log saw, in order, with the same answers, and the program
// saw every result and errno as without it.
TEST_F(RecordReplay, StackedRecorderTraceIsTheWorldsCommandLog) {
    Outcome run = shell(kLauncher + " --in-process -- " + kLauncher + " record --driver -o t.jsonl -- " +
                    kProbe + " log world.log");
    ASSERT_EQ(run.status, 0) << run.err;
    Trace t = trace("t.jsonl");
    EXPECT_EQ(t.header.source, "driver");
    EXPECT_EQ(t.header.program, (std::vector<std::string>{kProbe, "log", "world.log"}));
    ASSERT_TRUE(t.header.hasTree);
    ASSERT_EQ(t.header.tree.size(), 2u);  // the built-in world's two nodes
    EXPECT_EQ(t.header.tree[0].files.at("interfacePath"), "/dev/zelsmbus0");

    std::vector<std::string> log;
    std::istringstream lines(readFile(path("world.log")));
    for (std::string line; std::getline(lines, line);) log.push_back(line);
    ASSERT_EQ(t.records.size(), log.size());
    ASSERT_EQ(log.size(), 11u);  // the probe's requests, a terminal ioctl on the node among them
    for (size_t i = 0; i < log.size(); ++i) {
        const Record &r = t.records[i];
        std::string inHex = zelsim::trace::toHex(r.in.data(), r.in.size());
        std::string outHex = zelsim::trace::toHex(r.out.data(), r.out.size());
        std::ostringstream traced;
        traced << r.node << ' ' << r.request << ' ' << inHex << ' ' << outHex << ' ' << r.err
               << ' ' << r.status;
        // The log prints an empty byte string as nothing between the spaces.
        EXPECT_EQ(traced.str(), log[i]) << "record " << i + 1;
        EXPECT_EQ(r.seq, i + 1);
        EXPECT_EQ(r.command, r.request & 0xFF);
    }
    std::vector<std::string> names;
    for (const Record &r : t.records) names.push_back(r.name);
    EXPECT_EQ(names, (std::vector<std::string>{"getDeviceString", "getPortFlags", "lock",
                                               "writeByte", "readByte", "readByte", "readByte",
                                               "readI2CEEPROM", "", "unlock", "getPciIds"}));
    EXPECT_EQ(t.records[1].status, -52001);  // the injected driver word
    EXPECT_EQ(t.records[4].err, EIO);        // the injected failure: no output, no word
    EXPECT_TRUE(t.records[4].out.empty());
    EXPECT_EQ(t.records[6].err, EINVAL);  // the wrong input size
    EXPECT_EQ(t.records[8].err, ENOTTY);  // FIONREAD: not the driver's, its argument unread
}

// A recorded dump replays to the same output, byte for byte, in either
// matching mode; a replay asks for no world.
TEST_F(RecordReplay, ReplayOfADumpReproducesItsOutput) {
    std::string dump = kTool + " dump ZELSMBUS::SYSTEM::0::0 0x50";
    Outcome recorded = shell(kLauncher + " record -o dump.jsonl -- " + dump);
    ASSERT_EQ(recorded.status, 0) << recorded.err;
    ASSERT_NE(recorded.out.find("ZEL host memory"), std::string::npos) << recorded.out;
    Trace t = trace("dump.jsonl");
    EXPECT_EQ(t.header.source, "simulator");
    EXPECT_GT(t.records.size(), 256u);
    for (const char *mode : {"--strict", "--keyed"}) {
        Outcome replayed = shell(kLauncher + " replay dump.jsonl " + mode + " -- " + dump);
        EXPECT_EQ(replayed.status, 0) << mode << ": " << replayed.err;
        EXPECT_EQ(replayed.out, recorded.out) << mode;
    }
    // Nothing of the record's or the replays' own is left behind.
    EXPECT_EQ(shell("ls -A tmp").out, "");
}

// The first request that is not the trace's fails, the expected and the
// actual request are printed decoded with the requests before, and the
// replay exits 3; so does a program that makes fewer requests than recorded.
TEST_F(RecordReplay, DivergenceIsDecodedAndFails) {
    std::string tool = kTool + " dump ZELSMBUS::SYSTEM::0::0 ";
    ASSERT_EQ(shell(kLauncher + " record -o dump.jsonl -- " + tool + "0x50").status, 0);
    for (const char *mode : {"--strict", "--keyed"}) {
        Outcome other = shell(kLauncher + " replay " + mode + " dump.jsonl -- " + tool + "0x51");
        EXPECT_EQ(other.status, 3) << mode;
        EXPECT_NE(other.err.find("expected readByte on /dev/zelsmbus0 port=0x0 address=0xa0"),
                  std::string::npos)
            << mode << ": " << other.err;
        EXPECT_NE(other.err.find("actual   readByte on /dev/zelsmbus0 port=0x0 address=0xa2"),
                  std::string::npos)
            << other.err;
        EXPECT_NE(other.err.find("before it in the trace:\n    line "), std::string::npos)
            << other.err;
        // The program was told: its read failed (the tool reports it).
        EXPECT_NE(other.err.find("zelsmbus: could not read"), std::string::npos) << other.err;
    }
    Outcome none = shell(kLauncher + " replay dump.jsonl -- true");
    EXPECT_EQ(none.status, 3);
    EXPECT_NE(none.err.find("recorded requests not made; the first:\n    line 2: getDeviceString"),
              std::string::npos)
        << none.err;
}

// Strict replay wants the recorded order, keyed replay any order of the same
// requests. A polled register may be read more or fewer times than
// recorded, and a write may differ in the bits of the mask, only when
// declared volatile.
TEST_F(RecordReplay, MatchingModesAndVolatileRegisters) {
    ASSERT_EQ(shell(kLauncher + " record -o poll.jsonl -- " + kProbe + " poll 3").status, 0);
    ASSERT_EQ(shell(kLauncher + " record -o write.jsonl -- " + kProbe + " write 0x1234").status, 0);
    const std::string oneTwo = "sh -c '" + kProbe + " write 1 && " + kProbe + " write 2'";
    const std::string twoOne = "sh -c '" + kProbe + " write 2 && " + kProbe + " write 1'";
    ASSERT_EQ(shell(kLauncher + " record -o order.jsonl -- " + oneTwo).status, 0);
    struct Case {
        std::string replay;
        int status;
    } cases[] = {
        {"order.jsonl -- " + oneTwo, 0},
        {"order.jsonl -- " + twoOne, 3},
        {"--keyed order.jsonl -- " + twoOne, 0},
        {"--keyed order.jsonl -- " + kProbe + " write 1", 3},
        {"poll.jsonl -- " + kProbe + " poll 3", 0},
        {"poll.jsonl -- " + kProbe + " poll 5", 3},
        {"poll.jsonl -- " + kProbe + " poll 1", 3},
        {"--volatile '*:72:0' poll.jsonl -- " + kProbe + " poll 5", 0},
        {"--volatile /dev/zelsmbus0:72:0 poll.jsonl -- " + kProbe + " poll 1", 0},
        {"--keyed --volatile '*:72:0' poll.jsonl -- " + kProbe + " poll 6", 0},
        {"--volatile /dev/zelsmbus1:72:0 poll.jsonl -- " + kProbe + " poll 5", 3},
        {"--volatile '*:76:0' poll.jsonl -- " + kProbe + " poll 5", 3},
        {"write.jsonl -- " + kProbe + " write 0x1234", 0},
        {"write.jsonl -- " + kProbe + " write 0x12ff", 3},
        {"--volatile '*:64:0xff' write.jsonl -- " + kProbe + " write 0x12ff", 0},
        {"--volatile '*:64:0xf0' write.jsonl -- " + kProbe + " write 0x12ff", 3},
    };
    for (const Case &c : cases) {
        Outcome run = shell(kLauncher + " replay " + c.replay);
        EXPECT_EQ(run.status, c.status) << c.replay << "\n" << run.err;
    }
}

// Every completed request is in the trace when the program is killed, from
// every process (one run before, one forked child), each with a sequence
// number of its own in the file.
TEST_F(RecordReplay, KilledProgramLeavesEveryCompletedRecord) {
    Outcome run = shell(kLauncher + " record -o kill.jsonl -- sh -c '" + kProbe + " poll 5 && exec " +
                        kProbe + " kill 40 15'");
    EXPECT_EQ(run.status, 128 + SIGKILL) << run.err;
    Trace t = trace("kill.jsonl");
    ASSERT_EQ(t.records.size(), 60u);
    std::set<uint64_t> seqs;
    std::set<int64_t> pids;
    for (const Record &r : t.records) {
        seqs.insert(r.seq);
        pids.insert(r.pid);
        EXPECT_EQ(r.name, r.seq <= 5 ? "readRegister" : "readByte") << r.seq;
        EXPECT_EQ(r.err, 0);
    }
    EXPECT_EQ(seqs.size(), 60u);
    EXPECT_EQ(*seqs.rbegin(), 60u);
    EXPECT_EQ(pids.size(), 3u);
}

// An output that cannot be written is refused before the program runs.
TEST_F(RecordReplay, UnwritableOutputIsRefusedFirst) {
    ASSERT_EQ(mkdir(path("folder").c_str(), 0755), 0);
    for (const char *output : {"missing/t.jsonl", "folder", "/proc/version"}) {
        Outcome run = shell(kLauncher + " record -o " + output + " -- touch ran");
        EXPECT_EQ(run.status, 2) << output;
        EXPECT_NE(run.err.find(std::string("zelsim record: cannot write ") + output),
                  std::string::npos)
            << run.err;
        EXPECT_NE(access(path("ran").c_str(), F_OK), 0) << output << ": the program ran";
    }
}

// A trace that is not what the format says is refused with its line.
TEST_F(RecordReplay, BadTraceLinesAreNamedByLineNumber) {
    const std::string header =
        R"({"format":"zelsim-trace","version":1,"source":"simulator","program":["p"],"started":"2026-01-01T00:00:00Z"})"
        "\n";
    const std::string good =
        R"({"seq":1,"t_ns":5,"pid":9,"tid":9,"node":"/dev/zelsmbus0","request":2149592623,"command":47,"name":"getDeviceString","in":"00000000","out":"00","errno":0,"status":0,"duration_ns":1})"
        "\n";
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {"", "line 1: the trace is empty"},
        {header + good + "{\"seq\":2\n", "line 3: expected ',' or '}'"},
        {header + good + "[1]\n", "line 3: not a JSON object"},
        {R"({"format":"other","version":1})" "\n", "line 1: key 'format': not a zelsim trace"},
        {R"({"format":"zelsim-trace","version":2,"source":"driver","program":[],"started":""})" "\n",
         "line 1: key 'version': version 2 is not known"},
        {header + good + good.substr(0, good.size() - 1), "line 3: the line does not end with a newline"},
        {header + good + R"({"seq":2})" "\n", "line 3: key 't_ns' missing"},
        {header + std::string(good).replace(good.find("\"00000000\""), 10, "\"0000000\""),
         "line 2: key 'in': not a string of hex byte pairs"},
        {header + std::string(good).replace(good.find("\"00000000\""), 10, "\"ABCD\""),
         "line 2: key 'in': hex digits must be lower case"},
        {header + std::string(good).replace(good.find("\"command\":47"), 12, "\"command\":46"),
         "line 2: key 'command': must be the low byte of 'request'"},
        {header + std::string(good).replace(good.find("\"errno\":0"), 9, "\"errno\":5"),
         "line 2: a failed request (errno 5) carries no output bytes"},
        {header + good + std::string(good).replace(good.find("\"pid\":9"), 7, "\"pid\":\"9\""),
         "line 3: key 'pid': must be an integer"},
    };
    for (const Case &c : cases) {
        std::ofstream(path("bad.jsonl"), std::ios::binary) << c.text;
        Outcome run = shell(kLauncher + " replay bad.jsonl -- touch ran");
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_NE(run.err.find("bad.jsonl: " + c.message), std::string::npos)
            << "expected: " << c.message << "\ngot: " << run.err;
        EXPECT_NE(access(path("ran").c_str(), F_OK), 0) << c.message;
    }
    std::ofstream(path("good.jsonl"), std::ios::binary) << header << good;
    Trace t;
    std::string error;
    EXPECT_TRUE(zelsim::trace::readTrace(path("good.jsonl"), t, error)) << error;
}

}  // namespace
