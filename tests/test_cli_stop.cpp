// Stopping the tool by a signal at many points of writing a large output,
// alone and in a batch run, and killing a host of the library while it
// writes: no temporary file is left, an existing output stays as it was,
// and the outputs a batch finished are whole. A preloaded shim slows writes
// down (so that there are points to stop at) and, for the named temporary
// file's path, refuses unnamed files as some file systems do.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support.h"
#include "writer_support.h"

extern char **environ;

namespace {

using strings = std::vector<std::string>;
constexpr int POINTS = 5;  // stops per run, spread over the output's bytes

strings names_in(const std::string &dir) {
    strings v;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') v.push_back(e->d_name);
        closedir(d);
    }
    std::sort(v.begin(), v.end());
    return v;
}

int64_t size_of(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// Starts argv with the shim preloaded and the stopping signals at their
// default action whatever the test runner set.
pid_t start(const strings &argv, bool named_only, bool unnameable = false) {
    strings env;
    for (char **e = environ; *e; ++e) env.push_back(*e);
    env.push_back(std::string("LD_PRELOAD=") + SLOW_WRITE_SHIM);
    if (named_only) env.push_back("SHIM_NO_TMPFILE=1");
    if (unnameable) env.push_back("SHIM_NO_LINKAT=1");
    std::vector<char *> a, e;
    for (const auto &s : argv) a.push_back(const_cast<char *>(s.c_str()));
    for (const auto &s : env) e.push_back(const_cast<char *>(s.c_str()));
    a.push_back(nullptr);
    e.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (posix_spawn(&pid, a[0], nullptr, &attr, a.data(), e.data()) != 0) pid = -1;
    posix_spawnattr_destroy(&attr);
    return pid;
}

// The most bytes written so far to an output in flight in dir: a named
// temporary file there, or an unnamed one that pid holds open (its link in
// /proc reads "DIR/#INODE (deleted)"); -1 when there is none.
int64_t in_flight(pid_t pid, const std::string &dir) {
    int64_t most = -1;
    for (const auto &n : names_in(dir))
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".tmp") == 0) most = std::max(most, size_of(dir + "/" + n));
    std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto &n : names_in(fds)) {
        char target[4096];
        ssize_t k = readlink((fds + "/" + n).c_str(), target, sizeof target - 1);
        if (k <= 0) continue;
        std::string t(target, static_cast<size_t>(k));
        if (t.rfind(dir + "/#", 0) == 0) most = std::max(most, size_of(fds + "/" + n));
    }
    return most;
}

// Waits until `ready` finished outputs exist (names in dir not ending in
// .tmp, `existing` of them there before) and an output in flight has at
// least `bytes`, then sends sig: true when that ended it (it did not finish
// first). A run that hangs is killed after a minute rather than hang the tests.
bool stop_at(pid_t pid, const std::string &dir, size_t existing, size_t ready, int64_t bytes, int sig) {
    for (int polls = 0;; ++polls) {
        if (polls == 600000) sig = SIGKILL;
        int st = 0;
        if (waitpid(pid, &st, WNOHANG) == pid) return false;
        size_t done = 0;
        for (const auto &n : names_in(dir)) done += n.size() < 4 || n.compare(n.size() - 4, 4, ".tmp") != 0;
        if (sig == SIGKILL || (done >= existing + ready && in_flight(pid, dir) >= bytes)) {
            kill(pid, sig);
            waitpid(pid, &st, 0);
            return WIFSIGNALED(st) && WTERMSIG(st) == sig;
        }
        usleep(100);
    }
}

// The large input (pages of corpus files joined by qpdf), its numbered
// copy and that copy's size.
class Stop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!have_tool("qpdf") || !*SLOW_WRITE_SHIM) return;
        big = new std::string(temp_path("big.pdf"));
        std::string pages;
        for (const char *f : {"pdftex-R-intro.pdf", "reportlab-userguide.pdf", "quartz-appendmode-felsen.pdf",
                              "pdftex-R-intro.pdf", "reportlab-userguide.pdf"})
            pages += " " + corpus_file(f);
        run_command("qpdf --empty --pages" + pages + " -- " + *big);
        std::string ref = temp_path("reference.pdf");
        run_command(std::string(DEDEDIRUZURUD_CLI) + " " + *big + " " + ref);
        reference = new std::string(read_file(ref));
    }
    void SetUp() override {
        if (!*SLOW_WRITE_SHIM) GTEST_SKIP() << "nothing may be preloaded under the sanitizers";
        if (!big || reference->empty()) GTEST_SKIP() << "qpdf is needed to make the large input";
    }
    static std::string *big, *reference;
};
std::string *Stop::big = nullptr;
std::string *Stop::reference = nullptr;

struct stop_case {
    const char *name;
    int sig;
    bool named_only;  // unnamed temporary files refused
};

const stop_case kStops[] = {
    {"termUnnamed", SIGTERM, false}, {"intUnnamed", SIGINT, false}, {"termNamed", SIGTERM, true},
    {"intNamed", SIGINT, true},      {"hupNamed", SIGHUP, true},
};

class StopTool : public Stop, public ::testing::WithParamInterface<stop_case> {};

// One file: the output that stood there before is kept, nothing else appears.
TEST_P(StopTool, WhileWritingOneFile) {
    const stop_case &c = GetParam();
    int stopped = 0;
    int64_t size = static_cast<int64_t>(reference->size());
    for (int k = 0; k < POINTS; ++k) {
        std::string dir = temp_path("one-" + std::to_string(k));
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        write_file(dir + "/out.pdf", "old");
        pid_t pid = start({DEDEDIRUZURUD_CLI, *big, dir + "/out.pdf"}, c.named_only);
        ASSERT_GT(pid, 0);
        bool stop = stop_at(pid, dir, 1, 0, std::max<int64_t>(1, size * k / POINTS), c.sig);
        stopped += stop;
        EXPECT_EQ(names_in(dir), strings{"out.pdf"}) << "stop " << k;
        EXPECT_TRUE(!stop || read_file(dir + "/out.pdf") == "old");
    }
    EXPECT_GE(stopped, POINTS - 1);  // all but perhaps one stopped mid-write
}

// Many files: the outputs finished before the stop are whole, and there
// is no partial one.
TEST_P(StopTool, DuringABatchRun) {
    const stop_case &c = GetParam();
    std::string inputs = temp_path("inputs");
    ASSERT_EQ(mkdir(inputs.c_str(), 0755), 0);
    strings args = {DEDEDIRUZURUD_CLI, "-j1", "-q"};
    for (int k = 0; k < 4; ++k) {
        args.push_back(inputs + "/part" + std::to_string(k) + ".pdf");
        write_file(args.back(), read_file(*big));
    }
    int stopped = 0;
    for (size_t ready = 0; ready < 4; ++ready) {
        std::string dir = temp_path("batch-" + std::to_string(ready));
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        strings run = args;
        run.insert(run.end(), {"-o", dir});
        pid_t pid = start(run, c.named_only);
        ASSERT_GT(pid, 0);
        bool stop = stop_at(pid, dir, 0, ready, static_cast<int64_t>(reference->size()) / 2, c.sig);
        stopped += stop;
        strings names = names_in(dir);
        EXPECT_TRUE(!stop || names.size() == ready);
        for (const auto &n : names) EXPECT_EQ(read_file(dir + "/" + n), *reference) << n;
    }
    EXPECT_GE(stopped, 3);
}

// Unnamed files that the system cannot name (no /proc): what was written
// is copied into a named temporary file, which takes the output's place.
TEST_F(Stop, UnnamedFileThatCannotBeNamed) {
    std::string dir = temp_path("unnameable");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    pid_t pid = start({DEDEDIRUZURUD_CLI, *big, dir + "/out.pdf"}, false, true);
    ASSERT_GT(pid, 0);
    int st = 0;
    waitpid(pid, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    EXPECT_EQ(names_in(dir), strings{"out.pdf"});
    EXPECT_TRUE(read_file(dir + "/out.pdf") == *reference);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopTool, ::testing::ValuesIn(kStops),
                         [](const auto &info) { return std::string(info.param.name); });

// A host killed outright (no handler can run) while the library writes:
// the unnamed temporary file goes with the process.
TEST_F(Stop, HostKilledWhileWriting) {
    const char *host =
        "import ctypes, sys\n"
        "lib = ctypes.CDLL(sys.argv[1])\n"
        "sys.exit(0 if lib.dedediruzurud_add(sys.argv[2].encode(), sys.argv[3].encode(), 0, None, 12, 1, 0, 0, 0) "
        "else 1)\n";
    int killed = 0;
    int64_t size = static_cast<int64_t>(reference->size());
    for (int k = 0; k < POINTS; ++k) {
        std::string dir = temp_path("host-" + std::to_string(k));
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        pid_t pid = start({"/usr/bin/python3", "-c", host, DEDEDIRUZURUD_LIBRARY, *big, dir + "/out.pdf"}, false);
        ASSERT_GT(pid, 0);
        killed += stop_at(pid, dir, 0, 0, std::max<int64_t>(1, size * k / POINTS), SIGKILL);
        EXPECT_EQ(names_in(dir), strings{}) << "kill " << k;
    }
    EXPECT_GE(killed, POINTS - 1);
}

}  // namespace
