// One world shared by every process of a run: the launcher's world server,
// reached by separate processes (the launcher, a small driver client and a
// shell), started, reset and stopped like a user would.
#include "sharedWorld.h"

namespace {

using namespace sharedworld;

TEST_F(SharedWorld, TwoProcessesOfOneRunShareAValue) {
    // The reader is started through the launcher again: it joins the run's world.
    Result run = shell(kLauncher + " --world " + world_ + " -- sh -c '" + kClient +
                       " write 0x90 2 0x77 && " + kClient + " read 0x90 2 && " + kLauncher +
                       " -- " + kClient + " read 0x90 2'");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.substr(0, 8), "0\n0 0x77") << run.out;
    EXPECT_NE(run.out.find("\n0 0x77", 8), std::string::npos) << run.out;
    // A node stays open for its process when the thread that opened it has ended.
    Result thread =
        shell(kLauncher + " --world " + world_ + " -- " + kClient + " thread-read 0x90 0");
    EXPECT_EQ(parseRead(thread.out).status, 0) << thread.out;
    EXPECT_EQ(parseRead(thread.out).value, 25u) << thread.out;
    // The next run has a world of its own again.
    Result next = shell(kLauncher + " --world " + world_ + " -- " + kClient + " read 0x90 2");
    EXPECT_EQ(parseRead(next.out).value, 75u) << next.out;
}

// Programs that look at the tree before opening it (a shell's test and glob,
// ls, Python's os module) see what a machine with the driver shows, in a
// started world as in a world of their own; a node is a character device.
TEST_F(SharedWorld, ShellsAndScriptsSeeTheTreeAndItsNodes) {
    const std::string look =
        " -- sh -c 'test -d /proc/driver/zel && test -c /dev/zelsmbus0 && ! test -e /dev/zelsmbus1"
        " && ls /proc/driver/zel/zel0/deviceInterfaces/*/ && for d in /proc/driver/zel/*; do echo $d;"
        " done && /usr/bin/python3 -c \"import os; print(os.listdir(\\\"/proc/driver/zel\\\"),"
        " os.path.exists(\\\"/dev/zelsmbus0\\\"))\"'";
    const std::string expected =
        "interfacePath\nproperties\n/proc/driver/zel/zel0\n['zel0'] True\n";
    Result own = shell(kLauncher + " --in-process --world " + world_ + look);
    EXPECT_EQ(own.status, 0) << own.out;
    EXPECT_EQ(own.out, expected);
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    Result started = shell(kLauncher + look);
    EXPECT_EQ(started.status, 0) << started.out;
    EXPECT_EQ(started.out, expected);
}

TEST_F(SharedWorld, ALockHeldByOneProcessMakesAnotherWaitThenBusyUntilReleased) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    Child holder({kLauncher, "--", kClient, "hold"});
    ASSERT_EQ(holder.line(), "locked\n");

    Read busy = parseRead(client("read 0x90 0"));
    EXPECT_EQ(busy.status, -52031);
    EXPECT_GE(busy.ms, 900);  // waited for the holder's lock_timeout_ms first

    // A reader that is already waiting goes ahead once the lock is released.
    Child reader({kLauncher, "--", kClient, "read", "0x90", "0"});
    realPause(200);
    holder.say("unlock\n");
    EXPECT_EQ(holder.line(), "unlocked 0\n");
    Read through = parseRead(reader.line());
    EXPECT_EQ(through.status, 0);
    EXPECT_EQ(through.value, 25u);
    EXPECT_LT(through.ms, 900);
}

TEST_F(SharedWorld, AHolderThatDiesReleasesItsLock) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    {
        Child holder({kLauncher, "--", kClient, "hold"});
        ASSERT_EQ(holder.line(), "locked\n");
        holder.kill9();
    }
    EXPECT_EQ(client("lock").substr(0, 2), "0 ");
    // Exiting without closing the node releases it too.
    Child holder({kLauncher, "--", kClient, "hold"});
    ASSERT_EQ(holder.line(), "locked\n");
    EXPECT_EQ(holder.finish(), 0);
    EXPECT_EQ(client("lock").substr(0, 2), "0 ");
}

TEST_F(SharedWorld, AClientKilledWhileItsCommandWaitsLeavesNoLockBehind) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    Child holder({kLauncher, "--", kClient, "hold"});
    ASSERT_EQ(holder.line(), "locked\n");
    {
        // Its lock command waits in the server for the holder; it dies meanwhile.
        Child waiter({kLauncher, "--", kClient, "lock"});
        realPause(200);
        waiter.kill9();
    }
    // Released now, the dead client's command takes the lock after all; its
    // session then ends and lets go of it.
    holder.say("unlock\n");
    EXPECT_EQ(holder.line(), "unlocked 0\n");
    EXPECT_EQ(client("lock").substr(0, 2), "0 ");
    EXPECT_EQ(parseRead(client("read 0x90 0")).value, 25u);
}

TEST_F(SharedWorld, AStartedWorldKeepsStateBetweenCommandsUntilResetOrStopped) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    EXPECT_EQ(shell(kLauncher + " start 2>/dev/null").status, 2);  // one world per directory
    EXPECT_NE(shell(kLauncher + " status").out.find(world_), std::string::npos);

    EXPECT_EQ(client("write 0x90 3 0x42"), "0\n");
    EXPECT_EQ(parseRead(client("read 0x90 3")).value, 0x42u);
    ASSERT_EQ(shell(kLauncher + " reset").status, 0);
    EXPECT_EQ(parseRead(client("read 0x90 3")).value, 70u);  // the world file's value again

    ASSERT_EQ(shell(kLauncher + " stop").status, 0);
    struct stat info {};
    EXPECT_NE(stat(runtime_.c_str(), &info), 0) << "left behind: " << runtime_;
    EXPECT_NE(shell(kLauncher + " status").status, 0);
    EXPECT_NE(shell(kLauncher + " reset 2>&1").status, 0);

    // Started again: a fresh world, the built-in one this time.
    ASSERT_EQ(shell(kLauncher + " start").status, 0);
    EXPECT_EQ(parseRead(client("read 0x90 3")).value, 80u);
}

TEST_F(SharedWorld, AResetWhoseWorldFileNoLongerLoadsLeavesTheWorldAsItWas) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    EXPECT_EQ(client("write 0x90 3 0x42"), "0\n");
    writeFile("world.toml", std::string(kWorld) + "    byts = [1]\n");  // line 10

    Result reset = shell(kLauncher + " reset 2>&1");
    EXPECT_EQ(reset.status, 1);
    EXPECT_NE(reset.out.find(world_ + ": line 10: key 'byts'"), std::string::npos) << reset.out;
    // Neither reset nor replaced by the built-in world (whose register 3 holds 80).
    EXPECT_EQ(parseRead(client("read 0x90 3")).value, 0x42u);
    EXPECT_NE(shell(kLauncher + " status").out.find("world: " + world_), std::string::npos);
}

TEST_F(SharedWorld, AServerKilledOutrightDoesNotBlockTheNextStart) {
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    std::string status = shell(kLauncher + " status").out;
    size_t at = status.find("pid: ");
    ASSERT_NE(at, std::string::npos) << status;
    pid_t server = static_cast<pid_t>(std::atoi(status.c_str() + at + 5));
    ASSERT_GT(server, 1) << status;
    ASSERT_EQ(kill(server, SIGKILL), 0);
    // Dead once its lock is free (it may stay a zombie until something reaps it).
    for (int i = 0; i < 500 && shell(kLauncher + " status").status == 0; ++i) realPause(10);
    ASSERT_EQ(shell(kLauncher + " start --world " + world_).status, 0);
    EXPECT_EQ(parseRead(client("read 0x90 0")).value, 25u);
}

TEST_F(SharedWorld, BadWorldFilesAreRefusedNamingFileLineAndKey) {
    struct Case {
        const char *text;
        int line;
        const char *key;
    };
    const Case cases[] = {
        {"[simulator]\nlock_timout_ms = 5\n", 2, "lock_timout_ms"},
        {"[[device]]\nbus = \"four\"\n", 2, "bus"},
        {"[[device]]\n  [[device.port]]\n  protcted = [0xA0]\n", 3, "protcted"},
        {"[[device]]\n  [[device.port]]\n    [[device.port.target]]\n    address = 0x1A0\n"
         "    kind = \"nack\"\n",
         4, "address"},
        {"[[device]]\n  [[device.port]]\n    [[device.port.target]]\n    address = 0xA0\n"
         "    kind = \"eprom\"\n",
         5, "kind"},
        {"[[device]]\n  [[device.port]]\n    [[device.port.target]]\n    address = 0x90\n"
         "    kind = \"registers\"\n    byts = [1]\n",
         6, "byts"},
        {"format_version = 2\n[[device]]\n", 1, "format_version"},
        {"[[device]]\n  [[device.port]]\n  attributes = { 10001 = -1 }\n", 3, "attributes.10001"},
    };
    for (const Case &c : cases) {
        std::string file = writeFile("bad.toml", c.text);
        Result run = shell(kLauncher + " --world " + file + " -- echo ran 2>&1");
        EXPECT_EQ(run.status, 2) << c.text;
        EXPECT_EQ(run.out.find("ran"), std::string::npos) << c.text;
        std::string where = file + ": line " + std::to_string(c.line) + ": key '" + c.key + "'";
        EXPECT_NE(run.out.find(where), std::string::npos) << run.out;
    }
    Result alone =
        shell(kLauncher + " --in-process --world " + scratch_ + "/bad.toml -- echo ran 2>&1");
    EXPECT_EQ(alone.status, 2);
    EXPECT_NE(alone.out.find("line 3: key 'attributes.10001'"), std::string::npos) << alone.out;
    Result start = shell(kLauncher + " start --world " + scratch_ + "/bad.toml 2>&1");
    EXPECT_EQ(start.status, 2);
    EXPECT_NE(start.out.find("attributes.10001"), std::string::npos) << start.out;
    EXPECT_NE(shell(kLauncher + " status").status, 0);
}

TEST_F(SharedWorld, AnInstalledLauncherWorksFromAMovedPrefix) {
    std::string prefix = scratch_ + "/prefix", moved = scratch_ + "/moved";
    Result install = shell(std::string(ZELSIM_TEST_CMAKE) + " --install " + kBuild +
                           " --component simulator --prefix " + prefix + " 2>&1");
    ASSERT_EQ(install.status, 0) << install.out;
    ASSERT_EQ(rename(prefix.c_str(), moved.c_str()), 0);
    std::string launcher = moved + "/bin/zelsim";
    Result run =
        shell(launcher + " --world " + world_ + " -- sh -c 'echo \"$LD_PRELOAD\"; " + kClient +
              " qpxi; " + kClient + " write 0x90 1 9; " + kClient + " read 0x90 1'");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.rfind(moved + "/lib", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\nok\n0\n0 0x09 "), std::string::npos) << run.out;
}

}  // namespace
