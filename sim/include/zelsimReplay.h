/* Replaying driver traces from a GoogleTest suite (C++17, header only).
 *
 * Runs a program under `zelsim replay` (zelsim(1), zelsim-trace(5)) and
 * turns the outcome into a GoogleTest assertion: a program that made a
 * request the trace does not hold, or fewer requests than it holds, fails
 * the test with zelsim's report (the request that was due and the one made,
 * decoded, with the requests before it).
 *
 *   #include <gtest/gtest.h>
 *   #include <zelsimReplay.h>
 *
 *   TEST(Dump, Unchanged) {
 *       zelsim::replay::Result r = zelsim::replay::run(
 *           "dump.jsonl", {"./my-dump", "ZELSMBUS::SYSTEM::0::0"});
 *       ASSERT_TRUE(zelsim::replay::replayed(r));
 *       EXPECT_EQ(r.out, expectedText);
 *   }
 *
 * zelsim::replay::record() makes a trace the same way. The launcher is
 * Options::launcher, else $ZELSIM, else `zelsim` on PATH.
 */
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace zelsim::replay {

struct Options {
    bool keyed = false;                  // --keyed instead of --strict
    std::vector<std::string> volatiles;  // "NODE:REGISTER:MASK" entries
    std::string launcher;                // default: $ZELSIM, else zelsim on PATH
};

struct Result {
    int status = -1;  // zelsim's exit status: 3 diverged, 2 refused, else the program's
    std::string out;  // the program's standard output
    std::string err;  // its standard error and zelsim's report
};

namespace detail {

inline std::string launcher(const std::string &chosen) {
    if (!chosen.empty()) return chosen;
    const char *variable = std::getenv("ZELSIM");
    return variable != nullptr && *variable != '\0' ? variable : "zelsim";
}

inline std::string slurp(int fd) {
    std::string text;
    char buffer[4096];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return text;
}

inline int scratchFile() {
    const char *base = std::getenv("TMPDIR");
    std::string path =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zelsim-replay-out.XXXXXX";
    int fd = ::mkstemp(path.data());
    if (fd >= 0) ::unlink(path.c_str());
    return fd;
}

inline Result execute(std::vector<std::string> arguments) {
    Result result;
    int out = scratchFile();
    int err = scratchFile();
    if (out < 0 || err < 0) {
        if (out >= 0) ::close(out);
        if (err >= 0) ::close(err);
        result.err = "zelsim::replay: cannot make a scratch file";
        return result;
    }
    std::vector<char *> argv;
    for (std::string &argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execvp(argv[0], argv.data());
        std::fprintf(stderr, "zelsim::replay: cannot run %s\n", argv[0]);
        ::_exit(127);
    }
    int status = 0;
    if (child > 0) {
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    result.out = slurp(out);
    result.err = slurp(err);
    return result;
}

}  // namespace detail

// Runs command under `zelsim replay trace`.
inline Result run(const std::string &trace, const std::vector<std::string> &command,
                  const Options &options = {}) {
    std::vector<std::string> arguments = {detail::launcher(options.launcher), "replay", trace,
                                          options.keyed ? "--keyed" : "--strict"};
    for (const std::string &entry : options.volatiles) {
        arguments.push_back("--volatile");
        arguments.push_back(entry);
    }
    arguments.push_back("--");
    arguments.insert(arguments.end(), command.begin(), command.end());
    return detail::execute(arguments);
}

// Runs command under `zelsim record -o trace` (in `world` when given).
inline Result record(const std::string &trace, const std::vector<std::string> &command,
                     const std::string &world = "", const std::string &launcher = "") {
    std::vector<std::string> arguments = {detail::launcher(launcher), "record", "-o", trace};
    if (!world.empty()) {
        arguments.push_back("--world");
        arguments.push_back(world);
    }
    arguments.push_back("--");
    arguments.insert(arguments.end(), command.begin(), command.end());
    return detail::execute(arguments);
}

// Success when the program made exactly the recorded requests; otherwise a
// failure carrying zelsim's report. The program's own exit status is not
// judged here (compare result.status yourself).
inline ::testing::AssertionResult replayed(const Result &result) {
    if (result.status == 3) return ::testing::AssertionFailure() << "replay diverged:\n" << result.err;
    if (result.status == 2 && result.err.find("zelsim replay:") != std::string::npos)
        return ::testing::AssertionFailure() << "replay refused:\n" << result.err;
    if (result.status == 127) return ::testing::AssertionFailure() << result.err;
    return ::testing::AssertionSuccess();
}

}  // namespace zelsim::replay
