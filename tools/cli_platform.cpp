// The tool's few operating-system services, for POSIX systems and for
// Windows (MinGW, whose win32 thread model has no std::thread).
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli_platform.h"

#if defined(_WIN32)
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace {

constexpr int TICK_MS = 100;  // between looks at the finished files

bool is_separator(char c) {
#if defined(_WIN32)
    if (c == '\\' || c == ':') return true;
#endif
    return c == '/';
}

bool is_regular_file(const std::string &path);
bool readable(const std::string &path);  // false with errno set
bool writable(const std::string &path);  // likewise

}  // namespace

#if defined(_WIN32)

// msvcrt's parser of the wide command line, the twin of the one that made argv.
extern "C" int __cdecl __wgetmainargs(int *argc, wchar_t ***argv, wchar_t ***env, int glob, int *mode);

namespace {

std::string ansi_text(const std::wstring &w) {
    int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, w.c_str(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

// The argument as typed, from the wide command line: the ANSI argv has
// already replaced what its code page lacks (by '?' or a look-alike).
// Used only when it is plainly the same argument as arg.
bool typed_argument(const char *arg, int index, size_t offset, std::wstring *typed) {
    int argc = 0, mode = 0;
    wchar_t **argv = nullptr, **env = nullptr;
    if (__wgetmainargs(&argc, &argv, &env, 0, &mode) < 0 || !argv || index < 0 || index >= argc) return false;
    std::wstring whole = argv[index];
    if (whole.size() < offset) return false;
    *typed = whole.substr(offset);
    return ansi_text(*typed) == arg;
}

}  // namespace

bool argument_characters(const char *arg, int index, size_t offset, std::u32string *chars, std::string *error) {
    chars->clear();
    std::wstring w;
    if (!typed_argument(arg, index, offset, &w)) {
        int n = static_cast<int>(std::strlen(arg));
        int wn = n ? MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, arg, n, nullptr, 0) : 0;
        w.assign(wn > 0 ? wn : 0, L'\0');
        if (n && (wn <= 0 || MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, arg, n, &w[0], wn) != wn)) {
            *error = "--format is not valid text in the ANSI code page";
            return false;
        }
    }
    for (size_t i = 0; i < w.size(); ++i) {
        char32_t c = static_cast<char16_t>(w[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size()) c = 0x10000 + ((c - 0xD800) << 10) + (w[++i] - 0xDC00);
        chars->push_back(c);
    }
    return true;
}

int cpu_count() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

bool is_terminal(FILE *f) { return _isatty(_fileno(f)) != 0; }

void set_binary(FILE *f) { _setmode(_fileno(f), _O_BINARY); }

bool is_directory(const std::string &path) {
    struct _stat64 st;
    return _stat64(path.c_str(), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR;
}

bool path_exists(const std::string &path) {
    struct _stat64 st;
    return _stat64(path.c_str(), &st) == 0;
}

bool make_directory(const std::string &path) { return _mkdir(path.c_str()) == 0; }

namespace {
bool is_regular_file(const std::string &path) {
    struct _stat64 st;
    return _stat64(path.c_str(), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}
bool readable(const std::string &path) { return _access(path.c_str(), 4) == 0; }
bool writable(const std::string &path) { return _access(path.c_str(), 2) == 0; }
}  // namespace

int64_t file_size_of(const std::string &path) {
    struct _stat64 st;
    return _stat64(path.c_str(), &st) == 0 ? st.st_size : 0;
}

std::string file_identity(const std::string &path) {
    char full[_MAX_PATH];
    if (!path_exists(path) || !_fullpath(full, path.c_str(), sizeof full)) return {};
    std::string id = full;
    for (char &ch : id) ch = ch == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return id;
}

namespace {
struct thread_start {
    void (*work)(void *);
    void *arg;
};
DWORD WINAPI thread_main(LPVOID p) {
    auto *s = static_cast<thread_start *>(p);
    s->work(s->arg);
    return 0;
}
}  // namespace

void run_parallel(int threads, void (*work)(void *), void *arg, void (*tick)(void *), void *tick_arg) {
    thread_start start{work, arg};
    std::vector<HANDLE> handles;
    for (int k = 0; k < threads && k < MAXIMUM_WAIT_OBJECTS; ++k) {
        HANDLE h = CreateThread(nullptr, 0, thread_main, &start, 0, nullptr);
        if (h) handles.push_back(h);
    }
    if (handles.empty()) work(arg);  // no thread to be had: do the work here
    while (!handles.empty() &&
           WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, TICK_MS) == WAIT_TIMEOUT)
        tick(tick_arg);
    for (HANDLE h : handles) CloseHandle(h);
    tick(tick_arg);
}

#else

namespace {

// One UTF-8 character at s[*i]; false when the bytes there do not form one
// (overlong forms, surrogates and values past U+10FFFF included).
bool utf8_char(const unsigned char *s, size_t n, size_t *i, char32_t *c) {
    unsigned char b = s[*i];
    int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || *i + len > n) return false;
    char32_t v = len == 1 ? b : b & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
        if ((s[*i + k] & 0xC0) != 0x80) return false;
        v = (v << 6) | (s[*i + k] & 0x3F);
    }
    static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < least[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
    *c = v;
    *i += len;
    return true;
}

}  // namespace

bool argument_characters(const char *arg, int, size_t, std::u32string *chars, std::string *error) {
    chars->clear();
    const auto *s = reinterpret_cast<const unsigned char *>(arg);
    size_t n = std::strlen(arg);
    for (size_t i = 0; i < n;) {
        char32_t c;
        if (!utf8_char(s, n, &i, &c)) {
            char text[96];
            std::snprintf(text, sizeof text, "--format is not valid UTF-8 (byte 0x%02X at position %zu)",
                          static_cast<unsigned>(s[i]), i + 1);
            *error = text;
            return false;
        }
        chars->push_back(c);
    }
    return true;
}

int cpu_count() {
    unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? static_cast<int>(n) : 1;
}

bool is_terminal(FILE *f) { return isatty(fileno(f)) != 0; }

void set_binary(FILE *) {}

bool is_directory(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool path_exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool make_directory(const std::string &path) { return mkdir(path.c_str(), 0777) == 0; }

namespace {
bool is_regular_file(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
bool readable(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) close(fd);
    return fd >= 0;
}
bool writable(const std::string &path) { return access(path.c_str(), W_OK) == 0; }
}  // namespace

int64_t file_size_of(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

std::string file_identity(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return {};
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

void run_parallel(int threads, void (*work)(void *), void *arg, void (*tick)(void *), void *tick_arg) {
    std::mutex m;
    std::condition_variable ended;
    int running = 0;
    auto body = [&] {
        work(arg);
        std::lock_guard<std::mutex> hold(m);
        --running;
        ended.notify_all();
    };
    std::vector<std::thread> pool;
    std::unique_lock<std::mutex> lock(m);  // no thread counts itself out before it is counted in
    try {
        for (int k = 0; k < threads; ++k) {
            pool.emplace_back(body);
            ++running;
        }
    } catch (const std::exception &) {
        if (pool.empty()) work(arg);  // no thread to be had: do the work here
    }
    while (running > 0) {
        lock.unlock();
        tick(tick_arg);
        lock.lock();
        ended.wait_for(lock, std::chrono::milliseconds(TICK_MS), [&] { return running == 0; });
    }
    lock.unlock();
    for (auto &t : pool) t.join();
    tick(tick_arg);
}

#endif

bool make_directories(const std::string &path) {
    if (path.empty() || is_directory(path)) return true;
    size_t end = path.size();
    while (end > 1 && is_separator(path[end - 1])) --end;  // "a/b/" is "a/b"
    size_t cut = end;
    while (cut > 0 && !is_separator(path[cut - 1])) --cut;
    if (cut > 1 && !make_directories(path.substr(0, cut - 1))) return false;
    return make_directory(path.substr(0, end)) || is_directory(path);
}

std::string open_failure_reason(const std::string &path) {
    if (path.empty()) return std::strerror(ENOENT);
    if (!path_exists(path)) return std::strerror(errno);
    if (is_directory(path)) return std::strerror(EISDIR);
    if (!is_regular_file(path)) return "not a regular file";
    return readable(path) ? "" : std::strerror(errno);
}

std::string write_failure_reason(const std::string &path) {
    if (path.empty()) return std::strerror(ENOENT);
    if (is_directory(path)) return std::strerror(EISDIR);
    size_t cut = path.size();
    while (cut > 0 && !is_separator(path[cut - 1])) --cut;
    std::string dir = cut == 0 ? "." : cut == 1 ? path.substr(0, 1) : path.substr(0, cut - 1);
    if (!path_exists(dir)) return std::strerror(errno);
    if (!is_directory(dir)) return std::strerror(ENOTDIR);
    if (!writable(dir)) return std::strerror(errno);
    if (path_exists(path) && !writable(path)) return std::strerror(errno);
    return "";
}

double seconds_now() {
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

#if defined(_WIN32)

std::string new_temp_file() {
    char dir[MAX_PATH + 1], path[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n > MAX_PATH || GetTempFileNameA(dir, "ddz", 0, path) == 0) return "";
    return path;
}

#else

std::string new_temp_file() {
    const char *dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/dedediruzurud-XXXXXX";
    int fd = mkstemp(&path[0]);
    if (fd < 0) return "";
    close(fd);
    return path;
}

#endif
