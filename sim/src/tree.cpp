// The driver tree in the private temporary directory: for every node
// <root>/proc/driver/zel/<instance>/deviceInterfaces/zelsmbus_zelsmbus\<n>/
// with interfacePath and properties/numPorts (32-bit little-endian).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "client.h"
#include "nodeFiles.h"
#include "real.h"
#include "server.h"
#include "sim.h"
#include "vtime.h"

namespace zelsim {
namespace {

void makeDirectory(Sim &s, const std::string &path) {
    if (::mkdir(path.c_str(), 0755) == 0) s.written.push_back(path);
}

void makeDirectories(Sim &s, const std::string &relative) {
    std::string path = s.root;
    size_t start = 0;
    while (start < relative.size()) {
        size_t slash = relative.find('/', start + 1);
        if (slash == std::string::npos) slash = relative.size();
        path += relative.substr(start, slash - start);
        makeDirectory(s, path);
        start = slash;
    }
}

void writeFile(Sim &s, const std::string &path, const std::string &bytes) {
    int fd = real::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = real::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    real::close(fd);
    bool known = false;
    for (const std::string &w : s.written) known = known || w == path;
    if (!known) s.written.push_back(path);
}

void removeTree(Sim &s) {
    for (auto it = s.written.rbegin(); it != s.written.rend(); ++it) {
        if (::unlink(it->c_str()) != 0) ::rmdir(it->c_str());
    }
    s.written.clear();
}

void makeRoot(Sim &s) {
    const char *base = std::getenv("TMPDIR");
    std::string templ =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zelsim.XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        templ = "/tmp/zelsim.XXXXXX";
        buffer.assign(templ.begin(), templ.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) == nullptr) return;
    }
    s.root = buffer.data();
    s.rootOwner = ::getpid();
}

Sim *gSim = nullptr;

// Removes the tree when the process that made it ends (not in forked children).
__attribute__((destructor)) void removeTreeAtExit() {
    Sim *s = gSim;
    if (s == nullptr || s->root.empty() || s->rootOwner != ::getpid()) return;
    std::lock_guard<std::mutex> lock(s->mutex);
    removeTree(*s);
    ::rmdir(s->root.c_str());
}

}  // namespace

void dropTree() {
    Sim *s = gSim;
    if (s == nullptr || s->root.empty()) return;
    std::lock_guard<std::mutex> lock(s->mutex);
    removeTree(*s);
    ::rmdir(s->root.c_str());
}

void writeTree(Sim &s) {
    removeTree(s);
    if (s.root.empty()) makeRoot(s);
    s.files.clear();
    for (size_t n = 0; n < s.world.devices.size(); ++n) {
        const Device &device = s.world.devices[n];
        NodeFiles files;
        files.procDir = std::string(kProcPrefix) + device.instance +
                        "/deviceInterfaces/zelsmbus_zelsmbus\\" + std::to_string(n);
        files.nodePath = kNodePrefix + std::to_string(n);
        files.interfacePath = files.nodePath;
        uint32_t ports = static_cast<uint32_t>(device.ports.size());
        files.properties["numPorts"] = std::string(reinterpret_cast<const char *>(&ports), 4);
        s.files.push_back(files);
    }
    if (s.root.empty()) return;
    makeNodeFiles(s);
    for (size_t n = 0; n < s.files.size(); ++n) {
        const NodeFiles &files = s.files[n];
        makeDirectories(s, files.procDir + "/properties");
        writeFile(s, s.root + files.procDir + "/interfacePath", files.interfacePath);
        for (const auto &[name, bytes] : files.properties) {
            writeFile(s, s.root + files.procDir + "/properties/" + name, bytes);
        }
    }
}

void rewriteNodeFile(Sim &s, unsigned node, const std::string &file) {
    if (node >= s.files.size() || s.root.empty()) return;
    const NodeFiles &files = s.files[node];
    if (file == "interfacePath") {
        writeFile(s, s.root + files.procDir + "/interfacePath", files.interfacePath);
    } else {
        auto it = files.properties.find(file);
        if (it != files.properties.end()) {
            writeFile(s, s.root + files.procDir + "/properties/" + file, it->second);
        }
    }
}

std::string treePath(const Sim &s, const char *procPath) { return s.root + procPath; }

bool findNodeFile(const Sim &s, const std::string &procPath, unsigned &node, std::string &file) {
    for (size_t n = 0; n < s.files.size(); ++n) {
        const std::string &dir = s.files[n].procDir;
        if (procPath.size() <= dir.size() || procPath.compare(0, dir.size(), dir) != 0 ||
            procPath[dir.size()] != '/') {
            continue;
        }
        std::string rest = procPath.substr(dir.size() + 1);
        if (rest == "interfacePath") {
            file = rest;
        } else if (rest.rfind("properties/", 0) == 0) {
            file = rest.substr(11);
        } else {
            continue;
        }
        node = static_cast<unsigned>(n);
        return true;
    }
    return false;
}

void installWorld(Sim &s, World &&world) {
    s.world = std::move(world);
    ++s.generation;
    setVirtualTime(s.world.virtualTime);
    writeTree(s);
    s.busReleased.notify_all();
}

Sim &sim() {
    static std::once_flag once;
    std::call_once(once, [] {
        Sim *s = new Sim;
        protectAcrossFork(*s);
        World world;
        std::string error;
        const char *path = std::getenv("ZELSIM_WORLD");
        bool loaded = false;
        if (path != nullptr && *path != '\0') {
            std::string text;
            loaded = readWorldFile(path, text, error) && parseWorld(text, world, error, path);
            if (!loaded) {
                std::string message = "zelsim: ZELSIM_WORLD " + std::string(path) + ": " + error +
                                      "; using the default world\n";
                real::write(2, message.data(), message.size());
                s->lastError = error;
            }
        }
        if (!loaded) parseWorld(defaultWorldText(), world, error);
        s->world = std::move(world);
        setVirtualTime(s->world.virtualTime);
        // Under a world server the tree is the server's; this copy of the
        // world only answers the chassis list.
        if (!client::active()) writeTree(*s);
        gSim = s;
    });
    return *gSim;
}

Device *deviceOf(Sim &s, unsigned node) {
    return node < s.world.devices.size() ? &s.world.devices[node] : nullptr;
}

}  // namespace zelsim
