// What the shared-world tests share: running the launcher and small client
// programs as separate processes, with time limits so that a client that
// hangs fails its test instead of the run, and a fixture with a runtime
// directory and a world file of its own.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "shellSupport.h"

namespace sharedworld {

inline const std::string kBuild = ZELSIM_TEST_BUILD_DIR;
inline const std::string kLauncher = kBuild + "/sim/zelsim";
inline const std::string kClient = kBuild + "/tests/zelsim_bus_client";

// The sensor at 0x90 holds 25 in register 0 and 70 in register 3 (the
// built-in world: 80); a lock waits 1 s for its holder.
inline const char kWorld[] = R"toml(
[simulator]
lock_timeout_ms = 1000
[[device]]
  [[device.port]]
    [[device.port.target]]
    address = 0x90
    kind = "registers"
    bytes = [25, 0, 75, 70]
)toml";

using simtest::realPause;
using simtest::Result;
using simtest::shell;

// A program with its standard input and output on pipes.
class Child {
public:
    explicit Child(const std::vector<std::string> &argv) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            std::vector<char *> args;
            for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        input_ = fdopen(in[1], "w");
        output_ = fdopen(out[0], "r");
    }
    ~Child() {
        if (input_ != nullptr) fclose(input_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ != nullptr) fclose(output_);
    }
    // The next line it prints; empty when none comes within `timeoutMs`.
    std::string line(int timeoutMs = 20000) {
        char buffer[256] = {};
        if (output_ == nullptr) return {};
        pollfd ready{fileno(output_), POLLIN, 0};
        if (output_->_IO_read_ptr == output_->_IO_read_end && poll(&ready, 1, timeoutMs) <= 0)
            return {};
        if (fgets(buffer, sizeof buffer, output_) == nullptr) return {};
        return buffer;
    }
    pid_t pid() const { return pid_; }
    void say(const char *text) {
        fputs(text, input_);
        fflush(input_);
    }
    void kill9() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // Closes its input and waits for its exit status.
    int finish() {
        fclose(input_);
        input_ = nullptr;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    FILE *input_ = nullptr;
    FILE *output_ = nullptr;
};

// "<status> <value> <elapsed ms>" of a read by the driver client.
struct Read {
    int status = 1;
    unsigned value = 0;
    long ms = -1;
};

inline Read parseRead(const std::string &text) {
    Read r;
    if (std::sscanf(text.c_str(), "%d %x %ld", &r.status, &r.value, &r.ms) != 3) r.status = 1;
    return r;
}

// Every test gets a runtime directory of its own (no started world of the
// user's is touched) and a world file.
class SharedWorld : public simtest::ScratchRuntime {
protected:
    SharedWorld() : ScratchRuntime(kLauncher, kClient, "zelsim-shared") {}
    void SetUp() override {
        ScratchRuntime::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        world_ = writeFile("world.toml", kWorld);
    }
    // Runs the driver client under the launcher (the started world, if any).
    std::string client(const std::string &arguments) {
        return shell(kLauncher + " -- " + kClient + " " + arguments).out;
    }

    std::string world_;
};

}  // namespace sharedworld
