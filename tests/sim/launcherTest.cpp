// The launcher: what it puts into the environment of the program it runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

std::string buildDirectory() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string exe(path, static_cast<size_t>(n));
    std::string tests = exe.substr(0, exe.rfind('/'));
    return tests.substr(0, tests.rfind('/'));
}

TEST(Launcher, PreloadsTheSimulatorAndNamesTheWorld) {
    std::string launcher = buildDirectory() + "/sim/zelsim";
    if (access(launcher.c_str(), X_OK) != 0) GTEST_SKIP() << "launcher not built: " << launcher;
    char world[] = "/tmp/zelsim-world-XXXXXX";
    int fd = mkstemp(world);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "[[device]]\n", 11), 11);
    close(fd);
    // The shell the launcher runs prints the three variables it was given.
    std::string command = "cd /tmp && LD_PRELOAD=/first.so " + launcher + " --world " +
                          (std::string(world).substr(5)) +
                          " -- sh -c 'echo \"$LD_PRELOAD\"; echo "
                          "\"$ZELSIM_WORLD\"; echo \"$LD_LIBRARY_PATH\"' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[4096] = {};
    size_t n = fread(buffer, 1, sizeof buffer - 1, pipe);
    pclose(pipe);
    unlink(world);
    std::string out(buffer, n);
    std::string preload = out.substr(0, out.find('\n'));
    EXPECT_NE(preload.find("/libzelsim.so:/first.so"), std::string::npos) << out;
    EXPECT_EQ(preload[0], '/') << out;
    EXPECT_NE(out.find(std::string("\n") + world + "\n"), std::string::npos)
        << out;  // made absolute
    EXPECT_NE(out.find("/qpxi"), std::string::npos) << out;
}

TEST(Launcher, RefusesAMissingCommandOrWorld) {
    std::string launcher = buildDirectory() + "/sim/zelsim";
    if (access(launcher.c_str(), X_OK) != 0) GTEST_SKIP() << "launcher not built: " << launcher;
    EXPECT_NE(system((launcher + " -- >/dev/null 2>&1").c_str()), 0);
    EXPECT_NE(system((launcher + " --world /nonexistent.toml -- true >/dev/null 2>&1").c_str()), 0);
}

// Every verb answers --help with its usage on the standard output and status 0,
// without a world running.
TEST(Launcher, EveryVerbHasItsHelp) {
    std::string launcher = buildDirectory() + "/sim/zelsim";
    if (access(launcher.c_str(), X_OK) != 0) GTEST_SKIP() << "launcher not built: " << launcher;
    const struct {
        const char *arguments;
        const char *usageLine;
    } cases[] = {
        {"--help", "usage: zelsim [--world FILE]"},
        {"start --help", "usage: zelsim [--world FILE]"},
        {"fault --help", "usage: zelsim fault nack"},
        {"fault -h", "usage: zelsim fault nack"},
        {"snapshot --help", "usage: zelsim [--world FILE]"},
    };
    for (const auto &c : cases) {
        const std::string command = "ZELSIM_RUNTIME_DIR=/nonexistent-zelsim-runtime " + launcher +
                                    " " + c.arguments + " 2>/dev/null";
        FILE *pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char buffer[4096] = {};
        const size_t n = fread(buffer, 1, sizeof buffer - 1, pipe);
        const int status = pclose(pipe);
        EXPECT_EQ(status, 0) << c.arguments;
        EXPECT_NE(std::string(buffer, n).find(c.usageLine), std::string::npos) << c.arguments;
    }
}

}  // namespace
