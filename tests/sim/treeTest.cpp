// The driver tree as the library walks it: glob, fopen of the node files,
// open of the node path, and the faults that break each step.
#include <dirent.h>
#include <glob.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "wire.h"

namespace {

const char *kPattern = "/proc/driver/zel/*/deviceInterfaces/zelsmbus_zelsmbus\\\\*";

std::string readFile(const std::string &path, int *err = nullptr) {
    errno = 0;
    FILE *file = std::fopen(path.c_str(), "re");
    if (err != nullptr) *err = file == nullptr ? errno : 0;
    if (file == nullptr) return {};
    char buffer[4096];
    size_t n = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    return std::string(buffer, n);
}

std::vector<std::string> nodeDirectories(int *result = nullptr) {
    glob_t matches{};
    int r = glob(kPattern, GLOB_ONLYDIR, nullptr, &matches);
    if (result != nullptr) *result = r;
    std::vector<std::string> dirs(matches.gl_pathv, matches.gl_pathv + matches.gl_pathc);
    globfree(&matches);
    return dirs;
}

class Tree : public ::testing::Test {
protected:
    void SetUp() override { zelsim_reset(); }
};

TEST_F(Tree, GlobListsEveryNodeUnderProcAndItsFilesLeadToTheDevice) {
    std::vector<std::string> dirs = nodeDirectories();
    ASSERT_EQ(dirs.size(), zelsim_node_count());
    ASSERT_EQ(dirs.size(), 2u);
    for (size_t n = 0; n < dirs.size(); ++n) {
        EXPECT_EQ(dirs[n].rfind("/proc/driver/zel/", 0), 0u) << dirs[n];
        EXPECT_NE(dirs[n].find("/deviceInterfaces/zelsmbus_zelsmbus\\"), std::string::npos);
        std::string nodePath = readFile(dirs[n] + "/interfacePath");
        EXPECT_EQ(nodePath, zelsim_node_path(static_cast<unsigned>(n)));
        std::string ports = readFile(dirs[n] + "/properties/numPorts");
        ASSERT_EQ(ports.size(), 4u);
        uint32_t count;
        std::memcpy(&count, ports.data(), 4);
        EXPECT_EQ(count, zelsim_port_count(static_cast<unsigned>(n)));

        int fd = ::open(nodePath.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(zelsim_node_of_fd(fd), static_cast<int>(n));
        EXPECT_EQ(::close(fd), 0);
        EXPECT_EQ(zelsim_node_of_fd(fd), -1);
    }
}

extern "C" int __open_2(const char *, int);
extern "C" int __open64_2(const char *, int);

TEST_F(Tree, EveryOpenVariantReachesTheNode) {
    const char *path = zelsim_node_path(1);
    const int flags = O_RDWR | O_CLOEXEC;
    const int fds[] = {::open(path, flags),
                       ::open64(path, flags),
                       ::openat(AT_FDCWD, path, flags),
                       ::openat64(AT_FDCWD, path, flags),
                       __open_2(path, flags),
                       __open64_2(path, flags)};
    for (int fd : fds) {
        EXPECT_EQ(zelsim_node_of_fd(fd), 1) << fd;
        ::close(fd);
    }
    FILE *file =
        fopen64("/proc/driver/zel/zel0/deviceInterfaces/zelsmbus_zelsmbus\\1/interfacePath", "re");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
}

// The path calls a shell, ls or Python makes find the tree where the driver
// publishes it, and a node is a character device by path and by descriptor.
TEST_F(Tree, PathCallsSeeTheTreeAndNodesAreCharacterDevices) {
    const std::string dir = "/proc/driver/zel/zel0/deviceInterfaces/zelsmbus_zelsmbus\\1";
    struct stat status {};
    ASSERT_EQ(::stat("/proc/driver/zel", &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    ASSERT_EQ(::lstat((dir + "/interfacePath").c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(::access((dir + "/properties/numPorts").c_str(), R_OK), 0);
    EXPECT_EQ(::faccessat(AT_FDCWD, dir.c_str(), X_OK, 0), 0);

    std::vector<std::string> names;
    DIR *listing = ::opendir(dir.c_str());
    ASSERT_NE(listing, nullptr);
    while (dirent *entry = ::readdir(listing)) names.push_back(entry->d_name);
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "interfacePath", "properties"}));
    dirent **scanned = nullptr;
    int count = ::scandir("/proc/driver/zel/zel0/deviceInterfaces", &scanned, nullptr, alphasort);
    EXPECT_EQ(count, 4);  // ".", "..", and the two nodes
    for (int i = 0; i < count; ++i) std::free(scanned[i]);
    std::free(scanned);

    for (int node : {0, 1}) {
        ASSERT_EQ(::stat(zelsim_node_path(static_cast<unsigned>(node)), &status), 0);
        EXPECT_TRUE(S_ISCHR(status.st_mode));
        EXPECT_EQ(minor(status.st_rdev), static_cast<unsigned>(node));
        EXPECT_EQ(::access(zelsim_node_path(static_cast<unsigned>(node)), R_OK | W_OK), 0);
        char attribute[64];
        EXPECT_EQ(::lgetxattr(zelsim_node_path(static_cast<unsigned>(node)), "user.x", attribute,
                              sizeof attribute),
                  -1);
        EXPECT_EQ(errno, ENODATA);
    }
    simtest::Node node(1);
    struct stat byDescriptor {};
    ASSERT_EQ(::fstat(node.fd(), &byDescriptor), 0);
    EXPECT_TRUE(S_ISCHR(byDescriptor.st_mode));
    EXPECT_EQ(byDescriptor.st_rdev, status.st_rdev);
    struct statx extended {};
    ASSERT_EQ(::statx(node.fd(), "", AT_EMPTY_PATH, STATX_TYPE, &extended), 0);
    EXPECT_TRUE(S_ISCHR(extended.stx_mode));
    ASSERT_EQ(::statx(AT_FDCWD, zelsim_node_path(0), 0, STATX_TYPE, &extended), 0);
    EXPECT_TRUE(S_ISCHR(extended.stx_mode));

    // What the machine does not publish is not there, and without the tree nothing is.
    EXPECT_EQ(::stat("/dev/zelsmbus9", &status), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(::opendir((dir + "/nothing").c_str()), nullptr);
    EXPECT_EQ(errno, ENOENT);
    zelsim_set_tree_present(0);
    EXPECT_EQ(::access("/proc/driver/zel", F_OK), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(::stat(zelsim_node_path(0), &status), -1);
}

// A spawned child's open action of a tree file opens the tree's file.
TEST_F(Tree, SpawnedChildrenOpenTreeFilesGivenAsFileActions) {
    posix_spawn_file_actions_t actions;
    ASSERT_EQ(posix_spawn_file_actions_init(&actions), 0);
    ASSERT_EQ(posix_spawn_file_actions_addopen(
                  &actions, 0, "/proc/driver/zel/zel0/deviceInterfaces/zelsmbus_zelsmbus\\0/interfacePath",
                  O_RDONLY, 0),
              0);
    char shell[] = "/bin/sh";
    char dashC[] = "-c";
    char script[] = "read -r line; test \"$line\" = /dev/zelsmbus0";
    char *argv[] = {shell, dashC, script, nullptr};
    char *environment[] = {nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, "/bin/sh", &actions, nullptr, argv, environment), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(Tree, OpenOfAnUnpublishedNodePathFails) {
    errno = 0;
    EXPECT_EQ(::open("/dev/zelsmbus9", O_RDWR | O_CLOEXEC), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(Tree, NoTreeMeansNoMatchAndMissingFiles) {
    zelsim_set_tree_present(0);
    int result = 0;
    EXPECT_TRUE(nodeDirectories(&result).empty());
    EXPECT_EQ(result, GLOB_NOMATCH);
    int err = 0;
    readFile("/proc/driver/zel/zel0/deviceInterfaces/zelsmbus_zelsmbus\\0/interfacePath", &err);
    EXPECT_EQ(err, ENOENT);
}

TEST_F(Tree, GlobFaultsAnswerTheChosenResultOnce) {
    for (int failure : {GLOB_ABORTED, GLOB_NOSPACE}) {
        zelsim_fail_glob(failure, 1);
        int result = 0;
        EXPECT_TRUE(nodeDirectories(&result).empty());
        EXPECT_EQ(result, failure);
        EXPECT_EQ(nodeDirectories(&result).size(), 2u);
        EXPECT_EQ(result, 0);
    }
}

TEST_F(Tree, UnopenableFileFailsEveryAttemptAndCountsThem) {
    std::string dir = nodeDirectories().at(1);
    ASSERT_EQ(zelsim_make_unopenable(1, "numPorts", EACCES), 0);
    for (int i = 0; i < 3; ++i) {
        int err = 0;
        readFile(dir + "/properties/numPorts", &err);
        EXPECT_EQ(err, EACCES);
    }
    EXPECT_EQ(zelsim_fopen_attempts(1, "numPorts"), 3u);
    EXPECT_EQ(readFile(dir + "/interfacePath"), zelsim_node_path(1));
    zelsim_clear_faults();
    EXPECT_EQ(readFile(dir + "/properties/numPorts").size(), 4u);
}

TEST_F(Tree, RawFileContentsAreServedByteForByte) {
    std::string dir = nodeDirectories().at(0);
    std::string longPath(256, 'p');
    ASSERT_EQ(zelsim_set_interface_path(0, longPath.data(), longPath.size()), 0);
    EXPECT_EQ(readFile(dir + "/interfacePath"), longPath);
    const uint8_t five[5] = {2, 0, 0, 0, 9};
    ASSERT_EQ(zelsim_set_property(0, "numPorts", five, sizeof five), 0);
    EXPECT_EQ(readFile(dir + "/properties/numPorts"), std::string("\2\0\0\0\x09", 5));
}

TEST_F(Tree, CallFaultsFailTheNextCallsOnSimulatedPathsOnly) {
    zelsim_fail_call(ZELSIM_CALL_OPEN, EMFILE, 1);
    errno = 0;
    EXPECT_EQ(::open(zelsim_node_path(0), O_RDWR | O_CLOEXEC), -1);
    EXPECT_EQ(errno, EMFILE);
    int fd = ::open(zelsim_node_path(0), O_RDWR | O_CLOEXEC);
    EXPECT_GE(fd, 0);

    zelsim_fail_call(ZELSIM_CALL_CLOSE, EIO, 1);
    int plain = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(::close(plain), 0);  // not simulated: untouched by the fault
    errno = 0;
    EXPECT_EQ(::close(fd), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(zelsim_node_of_fd(fd), -1);  // closed all the same
}

TEST_F(Tree, CallCountersSeeOnlySimulatedCalls) {
    zelsim_clear_call_counts();
    int plain = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(plain);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_OPEN), 0u);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_CLOSE), 0u);
    nodeDirectories();
    {
        simtest::Node node(0);
        node.call(0x02, {});
    }
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_GLOB), 1u);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_OPEN), 1u);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_IOCTL), 1u);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_CLOSE), 1u);
}

TEST_F(Tree, SmbiosDumpIsMissingUntilRedirected) {
    int err = 0;
    readFile("/run/zelplat/smbios/smbiosdmp", &err);
    EXPECT_EQ(err, ENOENT);
    char name[] = "/tmp/zelsim-smbios-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "DUMP", 4), 4);
    ::close(fd);
    zelsim_set_smbios_path(name);
    EXPECT_EQ(readFile("/run/zelplat/smbios/smbiosdmp"), "DUMP");
    int raw = ::open("/run/zelplat/smbios/smbiosdmp", O_RDONLY | O_CLOEXEC);
    EXPECT_GE(raw, 0);
    ::close(raw);
    ::unlink(name);
}

TEST_F(Tree, NodeReadWriteAndMapAreHarmless) {
    simtest::Node node(0);
    char byte;
    EXPECT_EQ(::read(node.fd(), &byte, 1), 0);
    EXPECT_EQ(::write(node.fd(), "x", 1), 1);
    long page = sysconf(_SC_PAGESIZE);
    void *window = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_SHARED, node.fd(), 0);
    ASSERT_NE(window, MAP_FAILED);
    EXPECT_EQ(static_cast<char *>(window)[0], 0);
    munmap(window, page);
    zelsim_fail_call(ZELSIM_CALL_MMAP, ENOMEM, 1);
    EXPECT_EQ(mmap(nullptr, page, PROT_READ, MAP_SHARED, node.fd(), 0), MAP_FAILED);
    EXPECT_EQ(errno, ENOMEM);
}

}  // namespace
