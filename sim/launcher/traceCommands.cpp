#include "traceCommands.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <glob.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../record/replayState.h"
#include "../record/traceFormat.h"
#include "zelsim.h"

namespace zelsim::launcher {
namespace {

using trace::Record;

constexpr int kUsage = 2;
constexpr int kDiverged = 3;

std::string libraryBeside(const Layout &layout, const char *name) {
    size_t slash = layout.simulatorLibrary.rfind('/');
    std::string folder = slash == std::string::npos ? "." : layout.simulatorLibrary.substr(0, slash);
    return folder + "/" + name;
}

void prependPath(const char *name, const std::string &entry) {
    const char *old = std::getenv(name);
    std::string value = entry;
    if (old != nullptr && *old != '\0') value += ":" + std::string(old);
    setenv(name, value.c_str(), 1);
}

std::string tempFolder() {
    const char *base = std::getenv("TMPDIR");
    return base != nullptr && *base != '\0' ? base : "/tmp";
}

// The simulator's command table, read from libzelsim.so (never from the
// library's own headers). Empty entries for numbers without a command.
struct CommandTable {
    zelsim_command commands[256] = {};
    bool known[256] = {};
    const zelsim_command *find(unsigned number) const {
        return number < 256 && known[number] ? &commands[number] : nullptr;
    }
    const zelsim_command *byName(const char *name) const {
        for (unsigned n = 0; n < 256; ++n) {
            if (known[n] && std::strcmp(commands[n].name, name) == 0) return &commands[n];
        }
        return nullptr;
    }
};

bool loadCommandTable(const Layout &layout, CommandTable &table) {
    void *handle = dlopen(layout.simulatorLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "zelsim: cannot load %s: %s\n", layout.simulatorLibrary.c_str(),
                     dlerror());
        return false;
    }
    using Info = int (*)(unsigned, zelsim_command *);
    auto info = reinterpret_cast<Info>(dlsym(handle, "zelsim_command_info"));
    if (info == nullptr) return false;
    for (unsigned n = 0; n < 256; ++n) table.known[n] = info(n, &table.commands[n]) == 0;
    return true;  // the library stays loaded: the names point into it
}

int exitStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

// Runs PROGRAM as system() would and returns its exit status.
int runAndWait(char **program, const std::vector<std::pair<std::string, std::string>> &env,
               const std::string &preload) {
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    pid_t child = fork();
    if (child == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        for (const auto &[name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        prependPath("LD_PRELOAD", preload);
        execvp(program[0], program);
        std::fprintf(stderr, "zelsim: cannot run %s: %s\n", program[0], std::strerror(errno));
        _exit(127);
    }
    if (child < 0) {
        std::fprintf(stderr, "zelsim: cannot fork: %s\n", std::strerror(errno));
        return kUsage;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return exitStatus(status);
}

// ---- record ---------------------------------------------------------------

std::string utcNow() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    gmtime_r(&ts.tv_sec, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  ts.tv_nsec / 1000000);
    return text;
}

std::string globEscape(const std::string &path) {
    std::string out;
    for (char c : path) {
        if (c == '\\' || c == '*' || c == '?' || c == '[') out += '\\';
        out += c;
    }
    return out;
}

bool readWhole(const std::string &path, std::string &bytes) {
    FILE *file = std::fopen(path.c_str(), "re");
    if (file == nullptr) return false;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

std::vector<std::string> globPaths(const std::string &pattern, int flags) {
    std::vector<std::string> paths;
    glob_t found{};
    if (glob(pattern.c_str(), flags, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i) paths.emplace_back(found.gl_pathv[i]);
    }
    globfree(&found);
    return paths;
}

// The driver tree as a program here sees it (through the simulator's
// redirection when it is preloaded): every interface directory with its
// interfacePath and property files.
std::vector<trace::TreeDirectory> snapshotTree() {
    std::vector<trace::TreeDirectory> tree;
    for (const std::string &dir : globPaths("/proc/driver/zel/*/deviceInterfaces/*", GLOB_ONLYDIR)) {
        trace::TreeDirectory d;
        d.directory = dir;
        std::string bytes;
        if (readWhole(dir + "/interfacePath", bytes)) d.files["interfacePath"] = bytes;
        for (const std::string &file : globPaths(globEscape(dir) + "/properties/*", 0)) {
            bytes.clear();
            if (readWhole(file, bytes)) d.files["properties/" + file.substr(dir.size() + 12)] = bytes;
        }
        tree.push_back(std::move(d));
    }
    return tree;
}

bool appendLine(const std::string &path, const std::string &line) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return false;
    std::string text = line + "\n";
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

void recordUsage(FILE *to) {
    std::fprintf(to,
                 "usage: zelsim record -o TRACE [--world FILE | --driver] [--] PROGRAM [ARGUMENT...]\n"
                 "Runs PROGRAM and writes every driver request it makes to TRACE (JSON Lines,\n"
                 "zelsim-trace(5)), replacing what TRACE held.\n"
                 "  -o TRACE      the trace file (required)\n"
                 "  --world FILE  PROGRAM runs in a private world of FILE (default: as\n"
                 "                'zelsim -- PROGRAM' would: the surrounding or started world,\n"
                 "                else a private built-in one)\n"
                 "  --driver      no simulator: PROGRAM reaches the real driver, every request\n"
                 "                passed through unchanged\n");
}

// ---- replay ---------------------------------------------------------------

std::string decodeFields(const CommandTable &table, uint32_t request,
                         const std::vector<uint8_t> &bytes, bool output) {
    const zelsim_command *c = table.find(request & 0xFF);
    if (c == nullptr || (request >> 8 & 0xFF) != 0x2E) return "bytes=" + trace::toHex(bytes.data(), bytes.size());
    std::string text;
    for (unsigned i = 0; i < c->field_count; ++i) {
        const zelsim_field &f = c->fields[i];
        if ((f.output != 0) != output) continue;
        if (!text.empty()) text += ' ';
        text += f.name;
        text += '=';
        if (static_cast<size_t>(f.offset) + f.width > bytes.size()) {
            text += "(missing)";
            continue;
        }
        if (f.width <= 8) {
            uint64_t value = 0;
            std::memcpy(&value, bytes.data() + f.offset, f.width);
            char number[32];
            if (std::strcmp(f.name, "status") == 0)
                std::snprintf(number, sizeof number, "%d", static_cast<int32_t>(value));
            else
                std::snprintf(number, sizeof number, "0x%llx", static_cast<unsigned long long>(value));
            text += number;
        } else {
            // Long data: up to the last non-zero byte, at most 16 bytes shown.
            size_t used = f.width;
            while (used > 0 && bytes[f.offset + used - 1] == 0) --used;
            size_t shown = used < 16 ? used : 16;
            text += trace::toHex(bytes.data() + f.offset, shown);
            if (used > shown) text += "...(" + std::to_string(used) + " bytes)";
            if (shown == 0) text += "(zeros)";
        }
    }
    if (bytes.size() != c->in_size && !output)
        text += " (input size " + std::to_string(bytes.size()) + ", the command's is " +
                std::to_string(c->in_size) + ")";
    return text;
}

std::string commandName(const CommandTable &table, uint32_t request) {
    const zelsim_command *c = table.find(request & 0xFF);
    if (c != nullptr && (request >> 8 & 0xFF) == 0x2E) return c->name;
    char text[40];
    std::snprintf(text, sizeof text, "request 0x%08x", request);
    return text;
}

std::string describeRecord(const CommandTable &table, const Record &r) {
    std::string text = "line " + std::to_string(r.line) + ": " + commandName(table, r.request) +
                       " on " + r.node + " " + decodeFields(table, r.request, r.in, false) + " -> ";
    if (r.err != 0) return text + "errno " + std::to_string(r.err) + " (" + std::strerror(r.err) + ")";
    return text + decodeFields(table, r.request, r.out, true) +
           " (result " + std::to_string(r.status) + ")";
}

bool parseNumber(const std::string &text, uint64_t &value) {
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &end, 0);
    return errno == 0 && end != nullptr && *end == '\0' && text[0] != '-';
}

// NODE:REGISTER:MASK resolved into the preload's volatile entries (a read
// of the register, and the value field of a write to it).
bool volatileEntries(const CommandTable &table, const std::string &given, std::string &out) {
    size_t last = given.rfind(':');
    size_t middle = last == std::string::npos || last == 0 ? std::string::npos : given.rfind(':', last - 1);
    uint64_t reg = 0;
    uint64_t mask = 0;
    if (middle == std::string::npos || middle == 0 ||
        !parseNumber(given.substr(middle + 1, last - middle - 1), reg) ||
        !parseNumber(given.substr(last + 1), mask) || reg > UINT32_MAX || mask > UINT32_MAX) {
        std::fprintf(stderr,
                     "zelsim replay: --volatile %s: expected NODE:REGISTER:MASK (NODE a node path "
                     "or '*', REGISTER and MASK numbers up to 32 bits)\n",
                     given.c_str());
        return false;
    }
    std::string node = given.substr(0, middle);
    const zelsim_command *read = table.byName("readRegister");
    const zelsim_command *write = table.byName("writeRegister");
    if (read == nullptr || write == nullptr) return false;
    auto field = [](const zelsim_command *c, const char *name) -> const zelsim_field * {
        for (unsigned i = 0; i < c->field_count; ++i)
            if (c->fields[i].output == 0 && std::strcmp(c->fields[i].name, name) == 0) return &c->fields[i];
        return nullptr;
    };
    const zelsim_field *readOffset = field(read, "offset");
    const zelsim_field *writeOffset = field(write, "offset");
    const zelsim_field *writeValue = field(write, "value");
    if (readOffset == nullptr || writeOffset == nullptr || writeValue == nullptr) return false;
    char entry[512];
    std::snprintf(entry, sizeof entry, "%s|%u|%u|%u|%llu|-1|0|0;%s|%u|%u|%u|%llu|%u|%u|%llu;",
                  node.c_str(), read->number, readOffset->offset, readOffset->width,
                  static_cast<unsigned long long>(reg), node.c_str(), write->number,
                  writeOffset->offset, writeOffset->width, static_cast<unsigned long long>(reg),
                  writeValue->offset, writeValue->width, static_cast<unsigned long long>(mask));
    out += entry;
    return true;
}

bool writeTreeFiles(const std::string &root, const std::vector<trace::TreeDirectory> &tree) {
    for (const trace::TreeDirectory &d : tree) {
        for (const auto &[name, bytes] : d.files) {
            std::string path = root + d.directory + "/" + name;
            for (size_t slash = root.size() + 1; (slash = path.find('/', slash)) != std::string::npos; ++slash)
                ::mkdir(path.substr(0, slash).c_str(), 0755);
            int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) return false;
            bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
            ::close(fd);
            if (!ok) return false;
        }
        ::mkdir((root + d.directory).c_str(), 0755);  // a directory without files
    }
    return true;
}

void replayUsage(FILE *to) {
    std::fprintf(to,
                 "usage: zelsim replay TRACE [--strict | --keyed] [--volatile NODE:REGISTER:MASK]...\n"
                 "                     [--] PROGRAM [ARGUMENT...]\n"
                 "Runs PROGRAM with the answers recorded in TRACE in place of a driver. The first\n"
                 "request that differs from the trace fails with EPROTO; the difference is\n"
                 "printed and zelsim exits with 3.\n"
                 "  --strict   the same requests in the same order (default)\n"
                 "  --keyed    each request matched by node, request and input bytes, in any order\n"
                 "  --volatile NODE:REGISTER:MASK\n"
                 "             controller register REGISTER of NODE ('*': every node) is polled:\n"
                 "             its reads may be made more or fewer times than recorded, and\n"
                 "             writes to it may differ in the bits of MASK\n");
}

}  // namespace

int recordCommand(const Layout &layout, int argc, char **argv) {
    const char *output = nullptr;
    const char *world = nullptr;
    bool driver = false;
    int i = 0;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if ((arg == "-o" || arg == "--output") && i + 1 < argc) {
            output = argv[++i];
        } else if (arg.rfind("--output=", 0) == 0) {
            output = argv[i] + 9;
        } else if (arg == "--world" && i + 1 < argc) {
            world = argv[++i];
        } else if (arg.rfind("--world=", 0) == 0) {
            world = argv[i] + 8;
        } else if (arg == "--driver") {
            driver = true;
        } else if (arg == "--help" || arg == "-h") {
            recordUsage(stdout);
            return 0;
        } else if (arg[0] == '-') {
            std::fprintf(stderr, "zelsim record: unknown option %s\n", argv[i]);
            recordUsage(stderr);
            return kUsage;
        } else {
            break;
        }
    }
    if (output == nullptr || i >= argc || (driver && world != nullptr)) {
        if (output == nullptr) std::fprintf(stderr, "zelsim record: -o TRACE is required\n");
        if (driver && world != nullptr)
            std::fprintf(stderr, "zelsim record: --driver and --world exclude each other\n");
        recordUsage(stderr);
        return kUsage;
    }
    // The trace must be writable before anything runs.
    int fd = ::open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "zelsim record: cannot write %s: %s\n", output, std::strerror(errno));
        return kUsage;
    }
    ::close(fd);
    char resolved[PATH_MAX];
    if (::realpath(output, resolved) == nullptr) {
        std::fprintf(stderr, "zelsim record: %s: %s\n", output, std::strerror(errno));
        return kUsage;
    }
    std::vector<char *> inner;
    std::string self = layout.self;
    std::string worldArg = world != nullptr ? world : "";
    char recordVerb[] = "__record";
    char simulator[] = "simulator";
    char driverSource[] = "driver";
    char worldOption[] = "--world";
    char separator[] = "--";
    if (!driver) {
        // The launcher again, as PROGRAM would be started, so that the
        // header sees the world PROGRAM will see.
        inner.push_back(self.data());
        if (world != nullptr) {
            inner.push_back(worldOption);
            inner.push_back(worldArg.data());
        }
        inner.push_back(separator);
    }
    inner.push_back(self.data());
    inner.push_back(recordVerb);
    inner.push_back(driver ? driverSource : simulator);
    inner.push_back(resolved);
    inner.push_back(separator);
    for (int k = i; k < argc; ++k) inner.push_back(argv[k]);
    inner.push_back(nullptr);
    if (driver) return recordInner(layout, static_cast<int>(inner.size()) - 3, inner.data() + 2);
    execv(self.c_str(), inner.data());
    std::fprintf(stderr, "zelsim record: cannot run %s: %s\n", self.c_str(), std::strerror(errno));
    return 127;
}

int recordInner(const Layout &layout, int argc, char **argv) {
    // SOURCE FILE -- PROGRAM...
    if (argc < 4 || std::strcmp(argv[2], "--") != 0) return kUsage;
    std::string source = argv[0];
    std::string path = argv[1];
    char **program = argv + 3;
    CommandTable table;
    if (!loadCommandTable(layout, table)) return kUsage;
    std::string names;
    for (unsigned n = 0; n < 256; ++n) {
        if (!table.known[n]) continue;
        names += std::to_string(n) + ":" + table.commands[n].name + ":" +
                 std::to_string(table.commands[n].in_size) + " ";
    }
    trace::Header header;
    header.source = source;
    for (char **arg = program; *arg != nullptr; ++arg) header.program.emplace_back(*arg);
    header.started = utcNow();
    header.hasTree = true;
    header.tree = snapshotTree();
    if (!appendLine(path, trace::headerLine(header))) {
        std::fprintf(stderr, "zelsim record: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return kUsage;
    }
    // One counter for every process of the run numbers the records.
    std::string counter = tempFolder() + "/zelsim-record.XXXXXX";
    int fd = mkstemp(counter.data());
    if (fd < 0 || ftruncate(fd, sizeof(uint64_t)) != 0) {
        std::fprintf(stderr, "zelsim record: cannot make %s: %s\n", counter.c_str(), std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return kUsage;
    }
    ::close(fd);
    int status = runAndWait(program,
                            {{"ZELSIM_RECORD_FILE", path},
                             {"ZELSIM_RECORD_COMMANDS", names},
                             {"ZELSIM_RECORD_COUNTER", counter}},
                            libraryBeside(layout, "libzelsim-record.so"));
    ::unlink(counter.c_str());
    return status;
}

int replayCommand(const Layout &layout, int argc, char **argv) {
    const char *tracePath = nullptr;
    bool keyed = false;
    std::vector<std::string> volatiles;
    int i = 0;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--strict") {
            keyed = false;
        } else if (arg == "--keyed") {
            keyed = true;
        } else if (arg == "--volatile" && i + 1 < argc) {
            volatiles.emplace_back(argv[++i]);
        } else if (arg.rfind("--volatile=", 0) == 0) {
            volatiles.emplace_back(arg.substr(11));
        } else if (arg == "--help" || arg == "-h") {
            replayUsage(stdout);
            return 0;
        } else if (arg[0] == '-') {
            std::fprintf(stderr, "zelsim replay: unknown option %s\n", argv[i]);
            replayUsage(stderr);
            return kUsage;
        } else if (tracePath == nullptr) {
            tracePath = argv[i];
        } else {
            break;
        }
    }
    if (tracePath == nullptr || i >= argc) {
        replayUsage(stderr);
        return kUsage;
    }
    trace::Trace recorded;
    std::string error;
    if (!trace::readTrace(tracePath, recorded, error)) {
        std::fprintf(stderr, "zelsim replay: %s\n", error.c_str());
        return kUsage;
    }
    char resolved[PATH_MAX];
    if (::realpath(tracePath, resolved) == nullptr) return kUsage;
    CommandTable table;
    if (!loadCommandTable(layout, table)) return kUsage;
    std::string volatileText;
    for (const std::string &given : volatiles) {
        if (!volatileEntries(table, given, volatileText)) return kUsage;
    }
    std::string tree = tempFolder() + "/zelsim-replay.XXXXXX";
    if (mkdtemp(tree.data()) == nullptr) {
        std::fprintf(stderr, "zelsim replay: cannot make %s: %s\n", tree.c_str(), std::strerror(errno));
        return kUsage;
    }
    std::string statePath = tree + "/state";
    uint32_t count = static_cast<uint32_t>(recorded.records.size());
    size_t size = replay::stateSize(count);
    int fd = ::open(statePath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    void *map = MAP_FAILED;
    if (fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0)
        map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (fd >= 0) ::close(fd);
    auto cleanUp = [&] {
        // The folder holds only what we wrote; remove it depth first.
        std::vector<std::string> stack = {tree};
        std::vector<std::string> order;
        while (!stack.empty()) {
            std::string dir = stack.back();
            stack.pop_back();
            order.push_back(dir);
            for (const std::string &p : globPaths(globEscape(dir) + "/*", GLOB_MARK)) {
                if (!p.empty() && p.back() == '/') stack.push_back(p.substr(0, p.size() - 1));
                else ::unlink(p.c_str());
            }
        }
        for (auto it = order.rbegin(); it != order.rend(); ++it) ::rmdir(it->c_str());
    };
    if (map == MAP_FAILED || ::mkdir((tree + "/tree").c_str(), 0755) != 0 ||
        !writeTreeFiles(tree + "/tree", recorded.header.tree)) {
        std::fprintf(stderr, "zelsim replay: cannot prepare %s: %s\n", tree.c_str(), std::strerror(errno));
        cleanUp();
        return kUsage;
    }
    auto *state = static_cast<replay::State *>(map);
    state->recordCount = count;
    int status = runAndWait(argv + i,
                            {{"ZELSIM_REPLAY_TRACE", resolved},
                             {"ZELSIM_REPLAY_STATE", statePath},
                             {"ZELSIM_REPLAY_TREE", tree + "/tree"},
                             {"ZELSIM_REPLAY_MODE", keyed ? "keyed" : "strict"},
                             {"ZELSIM_REPLAY_VOLATILE", volatileText}},
                            libraryBeside(layout, "libzelsim-replay.so"));

    // The records in the order replay serves them.
    std::vector<Record> records = recorded.records;
    std::stable_sort(records.begin(), records.end(),
                     [](const Record &x, const Record &y) { return x.seq < y.seq; });
    auto isVolatileRead = [&](const Record &r) {
        // Unmade polls of a volatile register are no divergence.
        for (const std::string &given : volatiles) {
            size_t last = given.rfind(':');
            size_t middle = given.rfind(':', last - 1);
            std::string node = given.substr(0, middle);
            uint64_t reg = 0;
            parseNumber(given.substr(middle + 1, last - middle - 1), reg);
            const zelsim_command *read = table.byName("readRegister");
            if (read == nullptr || (r.request & 0xFF) != read->number) continue;
            if (node != "*" && node != r.node) continue;
            for (unsigned f = 0; f < read->field_count; ++f) {
                const zelsim_field &field = read->fields[f];
                if (field.output != 0 || std::strcmp(field.name, "offset") != 0) continue;
                uint64_t value = 0;
                if (field.offset + field.width <= r.in.size())
                    std::memcpy(&value, r.in.data() + field.offset, field.width);
                if (value == reg) return true;
            }
        }
        return false;
    };
    int result = status;
    if (state->diverged.load() == replay::kWritten) {
        const replay::Divergence &d = state->divergence;
        std::vector<uint8_t> in(d.in, d.in + d.inSize);
        std::fprintf(stderr, "zelsim replay: request %u (pid %d) does not match %s\n", d.served + 1,
                     d.pid, tracePath);
        if (d.expected != replay::kNone) {
            const Record &e = records[d.expected];
            std::fprintf(stderr, "  expected %s on %s %s\n           (%s)\n",
                         commandName(table, e.request).c_str(), e.node.c_str(),
                         decodeFields(table, e.request, e.in, false).c_str(),
                         describeRecord(table, e).c_str());
        } else {
            std::fprintf(stderr, "  expected no more requests: the trace has ended\n");
        }
        std::fprintf(stderr, "  actual   %s on %s %s\n", commandName(table, d.request).c_str(),
                     d.node, decodeFields(table, d.request, in, false).c_str());
        size_t end = d.expected != replay::kNone ? d.expected : records.size();
        size_t from = end > 3 ? end - 3 : 0;
        if (from < end) std::fprintf(stderr, "  before it in the trace:\n");
        for (size_t k = from; k < end; ++k)
            std::fprintf(stderr, "    %s\n", describeRecord(table, records[k]).c_str());
        std::fprintf(stderr, "  (the request failed with EPROTO, and every request after it)\n");
        result = kDiverged;
    } else {
        size_t missing = 0;
        const Record *first = nullptr;
        for (size_t k = 0; k < records.size(); ++k) {
            bool done = keyed ? state->used[k].load() != 0 : k < state->cursor.load();
            if (done || isVolatileRead(records[k])) continue;
            ++missing;
            if (first == nullptr) first = &records[k];
        }
        if (missing != 0) {
            std::fprintf(stderr,
                         "zelsim replay: the program ended with %zu recorded request%s not made; "
                         "the first:\n    %s\n",
                         missing, missing == 1 ? "" : "s", describeRecord(table, *first).c_str());
            result = kDiverged;
        }
    }
    munmap(map, size);
    cleanUp();
    return result;
}

}  // namespace zelsim::launcher
