// Writing the output file: what a replaced output keeps (permissions, owner
// and group, the link that names it), that files planted under the names
// of the temporary file are never written through, and that a failure
// leaves nothing behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dedediruzurud/output_file.h"
#include "writer_support.h"

namespace {

using strings = std::vector<std::string>;

// Numbers every page of in into out: "" on success, else the message.
std::string number(const std::string &in, const std::string &out) {
    if (dedediruzurud_add(in.c_str(), out.c_str(), 0, nullptr, 12, 1, 0, 0, 0)) return "";
    return dedediruzurud_last_error();
}

std::string input_file() {
    std::string in = temp_path("in.pdf");
    write_file(in, simple_pdf(2));
    return in;
}

// The numbered copy of simple_pdf(2), as written to a fresh path.
const std::string &numbered() {
    static const std::string bytes = number_all(simple_pdf(2));
    return bytes;
}

struct stat status_of(const std::string &path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
}

mode_t mode_of(const std::string &path) { return status_of(path).st_mode & 07777; }

std::string link_text(const std::string &path) {
    char buf[4096];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
}

// Random parts for the temporary names, known to the test: 1, 2, 3, ...
// (or always 7 when stuck), while a guard is alive.
uint64_t g_drawn;
bool g_stuck;
uint64_t counting_random() { return g_stuck ? 7 : ++g_drawn; }

struct random_guard {
    explicit random_guard(bool stuck) {
        g_drawn = 0;
        g_stuck = stuck;
        output_temp_random = counting_random;
    }
    ~random_guard() { output_temp_random = nullptr; }
};

// Permissions, and as root also owner and group (only root may give a
// file to another user).
TEST(OutputFile, ReplacedOutputKeepsItsPermissions) {
    bool root = geteuid() == 0;
    struct {
        bool onto_itself;
        mode_t mode;
    } cases[] = {{true, 0600}, {false, 0640}, {false, 0755}, {false, 0604}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.mode << (c.onto_itself ? " onto itself" : ""));
        std::string dir = fresh_dir("modes");
        std::string in = c.onto_itself ? dir + "/doc.pdf" : input_file(), out = dir + "/doc.pdf";
        write_file(out, c.onto_itself ? simple_pdf(2) : "old");
        chmod(out.c_str(), c.mode);
        if (root) {
            ASSERT_EQ(chown(out.c_str(), 4321, 8765), 0);
        }
        struct stat before = status_of(out);
        ASSERT_EQ(number(in, out), "");
        EXPECT_EQ(read_file(out), numbered());
        struct stat after = status_of(out);
        EXPECT_EQ(after.st_mode & 07777, c.mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_NE(after.st_ino, before.st_ino);  // a new file took the name
        EXPECT_EQ(dir_entries(dir), strings{"doc.pdf"});
    }
}

// A new output gets what fopen(path, "wb") gives a new file.
TEST(OutputFile, NewOutputFollowsTheCreationMask) {
    std::string in = input_file();
    for (mode_t mask : {022, 027, 077, 0, 002}) {
        SCOPED_TRACE(testing::Message() << std::oct << mask);
        std::string dir = fresh_dir("umask"), out = dir + "/new.pdf", ref = dir + "/ref";
        mode_t old = umask(mask);
        std::string message = number(in, out);
        if (FILE *f = std::fopen(ref.c_str(), "wb")) std::fclose(f);
        umask(old);
        ASSERT_EQ(message, "");
        EXPECT_EQ(mode_of(out), 0666 & ~mask);
        EXPECT_EQ(mode_of(out), mode_of(ref));
    }
}

// Links under the names the library draws, dangling or pointing at a file,
// and under the predictable names of earlier versions: none is followed,
// removed or changed, and the call still succeeds.
TEST(OutputFile, PlantedLinksAreNeverWrittenThrough) {
    std::string in = input_file();
    for (bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "existing output" : "new output");
        std::string dir = fresh_dir("planted"), out = dir + "/out.pdf", victim = dir + "/victim";
        write_file(victim, "victim");
        if (existing) write_file(out, "old");
        strings planted = {out + ".dedediruzurud-0.tmp", out + ".dedediruzurud-old"};
        for (uint64_t r = 1; r <= 30; ++r) planted.push_back(output_temp_name(out, r));
        for (size_t k = 0; k < planted.size(); ++k)
            ASSERT_EQ(symlink(k % 2 ? victim.c_str() : (dir + "/nowhere-" + std::to_string(k)).c_str(),
                              planted[k].c_str()), 0);
        {
            random_guard g(false);
            EXPECT_EQ(number(in, out), "");
            EXPECT_EQ(g_drawn, 31u);  // the first free name
        }
        EXPECT_EQ(read_file(out), numbered());
        EXPECT_EQ(read_file(victim), "victim");
        for (size_t k = 0; k < planted.size(); ++k) EXPECT_TRUE(S_ISLNK(status_of(planted[k]).st_mode)) << k;
        EXPECT_EQ(dir_entries(dir).size(), planted.size() + 2);  // no "nowhere" file, no temporary file
    }
}

TEST(OutputFile, NoFreeNameFailsAndLeavesEverythingAsItWas) {
    std::string in = input_file();
    for (bool existing : {false, true}) {
        std::string dir = fresh_dir("stuck"), out = dir + "/out.pdf";
        if (existing) write_file(out, "old");
        ASSERT_EQ(symlink("nowhere", output_temp_name(out, 7).c_str()), 0);
        random_guard g(true);
        EXPECT_EQ(number(in, out), "cannot write " + out);
        strings left = {"out.pdf.dedediruzurud-700000000000.tmp"};
        if (existing) left.insert(left.begin(), "out.pdf");
        EXPECT_EQ(dir_entries(dir), left);
        EXPECT_EQ(read_file(out), existing ? "old" : "");
    }
}

// An output path that is a link (or a chain of them) has the file at its
// end replaced, in that file's directory; the links stay as they were.
TEST(OutputFile, OutputThatIsALinkUpdatesItsTarget) {
    std::string in = input_file();
    mode_t mask = umask(022);
    umask(mask);
    struct {
        const char *name;
        bool absolute, chain, target_exists;
    } cases[] = {{"relative", false, false, true},
                 {"absolute", true, false, true},
                 {"chain", false, true, true},
                 {"dangling", false, false, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string base = fresh_dir("linked"), a = base + "/a", b = base + "/b", m = base + "/m";
        mkdir(a.c_str(), 0755), mkdir(b.c_str(), 0755), mkdir(m.c_str(), 0755);
        std::string target = b + "/real.pdf", out = a + "/out.pdf";
        if (c.target_exists) {
            write_file(target, "old");
            chmod(target.c_str(), 0640);
        }
        std::string text = c.absolute ? target : "../b/real.pdf";
        if (c.chain) {
            ASSERT_EQ(symlink(text.c_str(), (m + "/hop").c_str()), 0);
            text = "../m/hop";
        }
        ASSERT_EQ(symlink(text.c_str(), out.c_str()), 0);
        ASSERT_EQ(number(in, out), "");
        EXPECT_EQ(link_text(out), text);
        EXPECT_EQ(read_file(target), numbered());
        EXPECT_EQ(mode_of(target), c.target_exists ? 0640 : 0666 & ~mask);
        EXPECT_EQ(dir_entries(a), strings{"out.pdf"});
        EXPECT_EQ(dir_entries(b), strings{"real.pdf"});
        EXPECT_EQ(link_text(m + "/hop"), c.chain ? "../b/real.pdf" : "");
    }
}

// The temporary file is made next to the link's target, not next to the
// link (a rename cannot cross file systems): with the random part fixed, a
// name taken beside the link is no obstacle, one taken beside the target is.
TEST(OutputFile, TemporaryFileGoesNextToTheLinkTarget) {
    std::string base = fresh_dir("beside"), a = base + "/a", b = base + "/b";
    mkdir(a.c_str(), 0755), mkdir(b.c_str(), 0755);
    std::string out = a + "/out.pdf", target = b + "/real.pdf", in = input_file();
    ASSERT_EQ(symlink("../b/real.pdf", out.c_str()), 0);
    random_guard g(true);
    ASSERT_EQ(symlink("nowhere", output_temp_name(out, 7).c_str()), 0);
    EXPECT_EQ(number(in, out), "");
    EXPECT_EQ(read_file(target), numbered());
    ASSERT_EQ(symlink("nowhere", output_temp_name(target, 7).c_str()), 0);
    EXPECT_EQ(number(in, out), "cannot write " + out);
}

TEST(OutputFile, LinkLoopCannotBeWritten) {
    std::string dir = fresh_dir("loop"), out = dir + "/a.pdf";
    ASSERT_EQ(symlink("b.pdf", out.c_str()), 0);
    ASSERT_EQ(symlink("a.pdf", (dir + "/b.pdf").c_str()), 0);
    EXPECT_EQ(number(input_file(), out), "cannot write " + out);
    EXPECT_EQ(dir_entries(dir), (strings{"a.pdf", "b.pdf"}));
}

// A pipe has nothing to replace: the document goes into it, as into any
// device, and the pipe stays.
TEST(OutputFile, PipeIsWrittenInPlace) {
    std::string dir = fresh_dir("pipe"), pipe = dir + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    // Opened for reading first, so that the library's open does not wait;
    // the small document fits in the pipe's buffer.
    int fd = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(number(input_file(), pipe), "");
    fcntl(fd, F_SETFL, 0);
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    close(fd);
    EXPECT_EQ(got, numbered());
    EXPECT_TRUE(S_ISFIFO(status_of(pipe).st_mode));
    EXPECT_EQ(dir_entries(dir), strings{"pipe"});
}

// Runs check as a user without privileges: ourselves, or when we are root
// a child process that has become nobody (root ignores permission bits).
template <typename Check>
bool unprivileged(Check check) {
    if (geteuid() != 0) return check();
    pid_t pid = fork();
    if (pid == 0) _exit(setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0 && check() ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A directory that everybody may enter, holding a readable input.
std::string shared_dir() {
    char tmpl[] = "/tmp/dedediruzurud-shared-XXXXXX";
    std::string dir = mkdtemp(tmpl) ? tmpl : "";
    chmod(dir.c_str(), 0755);
    write_file(dir + "/in.pdf", simple_pdf(2));
    chmod((dir + "/in.pdf").c_str(), 0644);
    return dir;
}

TEST(OutputFile, ReadOnlyDirectoryFailsAndLeavesNothing) {
    std::string dir = shared_dir(), ro = dir + "/ro", out = ro + "/out.pdf";
    ASSERT_EQ(mkdir(ro.c_str(), 0555), 0);
    chmod(ro.c_str(), 0555);
    EXPECT_TRUE(unprivileged([&] { return number(dir + "/in.pdf", out) == "cannot write " + out; }));
    EXPECT_EQ(dir_entries(ro), strings{});
}

// Someone else's file in a shared directory, replaced by a user who may
// not give the new file that owner or group: the group's rights are not
// handed on to the user's own group.
TEST(OutputFile, GroupRightsStayWithTheGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    std::string dir = shared_dir(), shared = dir + "/shared", out = shared + "/doc.pdf";
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    chmod(shared.c_str(), 0777);
    write_file(out, "old");
    ASSERT_EQ(chown(out.c_str(), 4321, 8765), 0);
    chmod(out.c_str(), 0666);
    EXPECT_TRUE(unprivileged([&] { return number(dir + "/in.pdf", out).empty(); }));
    struct stat st = status_of(out);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_NE(st.st_gid, 8765u);
    EXPECT_EQ(st.st_mode & 07777, 0606u);
    EXPECT_EQ(read_file(out), numbered());
}

}  // namespace
