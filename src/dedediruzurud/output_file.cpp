// Writing the finished output file. The image goes to a temporary file in
// the directory of the file it replaces and is renamed into place only when
// it is complete and closed, so a failed call leaves the output as it was
// and numbering a file onto itself cannot lose it.
//
// On Linux the temporary file is made without a name (O_TMPFILE) and gets
// one only once it is complete, just before the rename: a process killed
// while writing leaves nothing behind. Where the file system or the system
// refuses that (no O_TMPFILE, no /proc), a named temporary file is written
// instead, and a host that wants those gone when it is stopped by a signal
// watches their names (output_temp_watch).
//
// The temporary file is created exclusively under a name with a random
// part and never through a symbolic link: in a directory that others may
// write to (/tmp, a shared folder) a link planted under the name we choose
// must not redirect the document into a file of someone else's choosing.
// Before the rename it takes over the replaced file's permissions (and its
// owner and group where we may set them); a new output gets the mode that
// creating it by name would give. An output path that is a symbolic link
// has the file at the end of the link chain replaced, so the link stays.
// An existing device or pipe is written in place: there is nothing to
// replace. Windows' rename does not replace an existing file, so there the
// old file is moved aside first (only the C runtime is used there).
#include "output_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "dedediruzurud_internal.h"

uint64_t (*output_temp_random)() = nullptr;
void (*output_temp_watch)(const char *name, bool exists) = nullptr;

std::string output_temp_name(const std::string &target, uint64_t r) {
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    char part[13] = {};
    for (int k = 0; k < 12; ++k, r /= 36) part[k] = digits[r % 36];
    return target + ".dedediruzurud-" + part + ".tmp";
}

namespace {

// Names tried before giving up: only planted or leftover files collide.
constexpr int TEMP_TRIES = 100;
// Longest chain of symbolic links followed (Linux's own limit).
constexpr int MAX_LINKS = 40;
// Largest piece handed to one write call (Windows' takes an unsigned int).
constexpr size_t WRITE_PIECE = size_t{1} << 30;

// The output as found before writing: the name the new file takes, and
// whether a file is there already (with its status).
struct out_target {
    std::string name;
    bool exists = false;
    bool in_place = false;  // a device or pipe, written directly
    struct stat st {};
};

// 64 unpredictable bits. std::random_device may be missing or fail; the
// clock and a counter still keep names of one process apart.
uint64_t random_bits() {
    if (output_temp_random) return output_temp_random();
    static std::atomic<uint64_t> counter{0};
    uint64_t x = counter.fetch_add(1) * 0x9E3779B97F4A7C15u +
                 static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
        std::random_device rd;
        x ^= (static_cast<uint64_t>(rd()) << 32) ^ rd();
    } catch (...) {
    }
    // splitmix64's finaliser spreads the clock's few changing bits.
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    return x ^ (x >> 31);
}

bool cannot_write(const char *path) {
    set_error(MSG_CANNOT_WRITE, path);
    return false;
}

#ifdef _WIN32

int open_new(const std::string &name) {
    return _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}

long write_piece(int fd, const unsigned char *p, size_t n) {
    return _write(fd, p, static_cast<unsigned>(std::min(n, WRITE_PIECE)));
}

int close_file(int fd) { return _close(fd); }

#else

int open_new(const std::string &name) {
    // O_EXCL alone refuses an existing link; O_NOFOLLOW says so twice.
    return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
}

long write_piece(int fd, const unsigned char *p, size_t n) {
    ssize_t k;
    do k = write(fd, p, std::min(n, WRITE_PIECE));
    while (k < 0 && errno == EINTR);
    return static_cast<long>(k);
}

int close_file(int fd) { return close(fd); }

#endif

// Writes everything to fd; false with the message recorded.
bool write_all(int fd, const char *path, const unsigned char *data, uint64_t len) {
    for (uint64_t done = 0; done < len;) {
        long k = write_piece(fd, data + done, static_cast<size_t>(len - done));
        if (k <= 0) {
            set_error(MSG_SHORT_WRITE, path);
            return false;
        }
        done += static_cast<uint64_t>(k);
    }
    return true;
}

// Closes fd; false (message recorded) when that fails, which replaces the
// message of a short write before it.
bool close_checked(int fd, const char *path) {
    if (close_file(fd) == 0) return true;
    set_error(MSG_CLOSE_ERROR, path);
    return false;
}

void watch(const std::string &name, bool exists) {
    if (output_temp_watch) output_temp_watch(name.c_str(), exists);
}

// A new file next to target under a name nobody has taken; -1 when none
// could be made. *tmp is its name, watched from before it exists.
int create_temp(const std::string &target, std::string *tmp) {
    for (int k = 0; k < TEMP_TRIES; ++k) {
        *tmp = output_temp_name(target, random_bits());
        watch(*tmp, true);
        int fd = open_new(*tmp);
        if (fd >= 0) return fd;
        int why = errno;
        watch(*tmp, false);
        if (why != EEXIST) return -1;
    }
    return -1;
}

#ifdef _WIN32

// An existing output must be writable by us: the rename would otherwise
// replace a file that we were not allowed to overwrite. Opening it for
// update neither truncates nor changes it.
bool find_target(const char *path, out_target *t) {
    t->name = path;
    FILE *f = std::fopen(path, "r+b");
    t->exists = f != nullptr;
    if (f) std::fclose(f);
    return t->exists || errno == ENOENT;
}

// Permissions come from the directory on Windows; nothing to take over.
void take_over_attributes(int, const out_target &) {}

// rename does not replace an existing file here: the old one is moved
// aside under a fresh name, and back again if the new one cannot take its
// place.
bool replace_target(const std::string &tmp, const out_target &t) {
    if (std::rename(tmp.c_str(), t.name.c_str()) == 0) return true;
    if (!t.exists) return false;
    std::string aside = output_temp_name(t.name, random_bits());
    if (std::rename(t.name.c_str(), aside.c_str()) != 0) return false;
    if (std::rename(tmp.c_str(), t.name.c_str()) == 0) {
        std::remove(aside.c_str());
        return true;
    }
    std::rename(aside.c_str(), t.name.c_str());
    return false;
}

bool write_in_place(const char *path, const unsigned char *, uint64_t) { return cannot_write(path); }

// No unnamed files here: the named temporary file is used.
int open_unnamed(const out_target &) { return -1; }
bool name_unnamed(int, const out_target &, std::string *) { return false; }
bool copy_file(int, int, const char *path) { return cannot_write(path); }

#else

// The name at the end of path's chain of symbolic links (path itself when
// it is none); false when the chain cannot be followed.
bool follow_links(const char *path, std::string *name) {
    *name = path;
    for (int hop = 0; hop <= MAX_LINKS; ++hop) {
        struct stat st;
        if (lstat(name->c_str(), &st) != 0) return errno == ENOENT;  // a new file is made there
        if (!S_ISLNK(st.st_mode)) return true;
        char text[4096];
        ssize_t n = readlink(name->c_str(), text, sizeof text);
        if (n <= 0 || static_cast<size_t>(n) == sizeof text) return false;
        // A relative link is read from the link's own directory.
        std::string next(text, static_cast<size_t>(n));
        size_t slash = name->rfind('/');
        *name = next[0] == '/' || slash == std::string::npos ? next : name->substr(0, slash + 1) + next;
    }
    return false;
}

// Where the new file goes and what it replaces; false when the output
// cannot be written. An existing file must be writable by us: the rename
// would otherwise replace a file that we were not allowed to overwrite.
bool find_target(const char *path, out_target *t) {
    struct stat st;
    if (stat(path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        t->in_place = true;
        return true;
    }
    if (!follow_links(path, &t->name)) return false;
    // Opening for writing neither truncates nor changes the file; a pipe
    // that appeared meanwhile does not make us wait.
    int fd = open(t->name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno == ENOENT;
    t->exists = fstat(fd, &t->st) == 0 && S_ISREG(t->st.st_mode);
    close(fd);
    return t->exists;
}

// The process's file creation mask, read without changing it where the
// system shows it (Linux 4.7 on). Elsewhere it is set and restored, with 077
// in between: a file another thread creates meanwhile comes out private
// rather than open to everybody.
mode_t creation_mask() {
    if (FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, f)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(f);
        if (found) return static_cast<mode_t>(mask & 0777);
    }
    mode_t mask = umask(077);
    umask(mask);
    return mask;
}

// Gives the temporary file the permissions the output will have: the
// replaced file's, or for a new file those of fopen(path, "wb"). A step
// that fails leaves the file more private than meant, never more open.
void take_over_attributes(int fd, const out_target &t) {
    if (!t.exists) {
        fchmod(fd, 0666 & ~creation_mask());
        return;
    }
    // Only root may give a file away (EPERM otherwise); anyone may pick one
    // of their own groups.
    if (fchown(fd, t.st.st_uid, t.st.st_gid) != 0) {
        int group_only = fchown(fd, static_cast<uid_t>(-1), t.st.st_gid);
        (void)group_only;
    }
    mode_t mode = t.st.st_mode & 0777;
    struct stat now;
    // Rights granted to the old file's group are not handed to another one.
    if (fstat(fd, &now) != 0 || now.st_gid != t.st.st_gid) mode &= ~static_cast<mode_t>(070);
    fchmod(fd, mode);
}

bool replace_target(const std::string &tmp, const out_target &t) {
    return std::rename(tmp.c_str(), t.name.c_str()) == 0;
}

// A device or pipe takes the bytes as fopen(path, "wb") would hand them.
bool write_in_place(const char *path, const unsigned char *data, uint64_t len) {
    int fd = open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY);
    struct stat st;
    // A regular file put there meanwhile is not written over in place.
    if (fd >= 0 && (fstat(fd, &st) != 0 || S_ISREG(st.st_mode))) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) return cannot_write(path);
    bool ok = write_all(fd, path, data, len);
    return close_checked(fd, path) && ok;
}

#if defined(O_TMPFILE)

// An unnamed file in target's directory, -1 when the system refuses one.
// It is opened for reading too: should naming it fail at the end, its
// bytes are copied into a named file instead.
int open_unnamed(const out_target &t) {
    size_t slash = t.name.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : t.name.substr(0, slash);
    return open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC | O_NOCTTY, 0600);
}

// Gives the complete unnamed file a temporary name *tmp through its own
// name in /proc, which linkat follows; false when the system refuses.
bool name_unnamed(int fd, const out_target &t, std::string *tmp) {
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int k = 0; k < TEMP_TRIES; ++k) {
        *tmp = output_temp_name(t.name, random_bits());
        watch(*tmp, true);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, tmp->c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        int why = errno;
        watch(*tmp, false);
        if (why != EEXIST) break;
    }
    return false;
}

// Copies everything in file from into file to; false with the message
// recorded.
bool copy_file(int from, int to, const char *path) {
    std::vector<unsigned char> piece(size_t{1} << 20);
    for (off_t at = 0;;) {
        ssize_t k;
        do k = pread(from, piece.data(), piece.size(), at);
        while (k < 0 && errno == EINTR);
        if (k == 0) return true;
        if (k < 0 || !write_all(to, path, piece.data(), static_cast<uint64_t>(k))) return k < 0 ? cannot_write(path) : false;
        at += k;
    }
}

#else

int open_unnamed(const out_target &) { return -1; }
bool name_unnamed(int, const out_target &, std::string *) { return false; }
bool copy_file(int, int, const char *path) { return cannot_write(path); }

#endif

#endif

}  // namespace

struct output_file {
    std::string path;  // as the caller named it, for messages
    out_target target;
    int fd = -1;
    bool unnamed = false;  // named only once complete
    std::string tmp;       // the temporary name
};

namespace {

// The temporary file for the regular file t; null when none can be made.
output_file *open_temp(const char *path, const out_target &t) {
    std::unique_ptr<output_file> f(new (std::nothrow) output_file);
    if (!f) return nullptr;
    f->path = path;
    f->target = t;
    f->fd = open_unnamed(t);
    f->unnamed = f->fd >= 0;
    if (f->fd < 0) f->fd = create_temp(t.name, &f->tmp);
    if (f->fd < 0) return nullptr;
    take_over_attributes(f->fd, t);
    return f.release();
}

}  // namespace

output_file *output_file_open(const char *path) {
    out_target t;
    if (!find_target(path, &t) || t.in_place) return nullptr;
    return open_temp(path, t);
}

bool output_file_append(output_file *f, const unsigned char *data, uint64_t len) {
    return write_all(f->fd, f->path.c_str(), data, len);
}

bool output_file_commit(output_file *f) {
    std::unique_ptr<output_file> own(f);
    const char *path = f->path.c_str();
    if (f->unnamed && !name_unnamed(f->fd, f->target, &f->tmp)) {
        // Written, but the system will not name it: a named copy instead.
        int named = create_temp(f->target.name, &f->tmp);
        bool copied = named >= 0 ? copy_file(f->fd, named, path) : cannot_write(path);
        close_file(f->fd);
        f->fd = named;
        if (named < 0) return false;
        take_over_attributes(named, f->target);
        if (!copied) {
            close_file(named);
            std::remove(f->tmp.c_str());
            watch(f->tmp, false);
            return false;
        }
    }
    bool ok = close_checked(f->fd, path);
    if (ok && !replace_target(f->tmp, f->target)) ok = cannot_write(path);
    if (!ok) std::remove(f->tmp.c_str());
    watch(f->tmp, false);
    return ok;
}

void output_file_abandon(output_file *f) {
    std::unique_ptr<output_file> own(f);
    close_file(f->fd);
    if (f->unnamed) return;
    std::remove(f->tmp.c_str());
    watch(f->tmp, false);
}

bool output_file_write(const char *path, const unsigned char *data, uint64_t len) {
    out_target t;
    if (!find_target(path, &t)) return cannot_write(path);
    if (t.in_place) return write_in_place(path, data, len);
    output_file *f = open_temp(path, t);
    if (!f) return cannot_write(path);
    if (!output_file_append(f, data, len)) {
        output_file_abandon(f);
        return false;
    }
    return output_file_commit(f);
}
