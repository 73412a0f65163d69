/* Preloaded into the tool and hosts by the stop tests: write() hands over
 * at most 64 KiB per call and waits 1 ms after each, so that writing an
 * output lasts long enough to be stopped at chosen points; with
 * SHIM_NO_TMPFILE set, open() refuses O_TMPFILE as file systems without it
 * do, so the named temporary file is used; with SHIM_NO_LINKAT set, linkat()
 * fails as it does without /proc, so an unnamed file cannot be named. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#define PIECE 65536

static int refused(int flags) {
#ifdef O_TMPFILE
    if ((flags & O_TMPFILE) == O_TMPFILE && getenv("SHIM_NO_TMPFILE")) {
        errno = EOPNOTSUPP;
        return 1;
    }
#endif
    (void)flags;
    return 0;
}

static int forward(const char *name, const char *path, int flags, mode_t mode) {
    int (*real)(const char *, int, ...) = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, name);
    return real(path, flags, mode);
}

int open(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = va_arg(ap, mode_t);
    va_end(ap);
    return refused(flags) ? -1 : forward("open", path, flags, mode);
}

int open64(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = va_arg(ap, mode_t);
    va_end(ap);
    return refused(flags) ? -1 : forward("open64", path, flags, mode);
}

ssize_t write(int fd, const void *data, size_t n) {
    static ssize_t (*real)(int, const void *, size_t);
    if (!real) real = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    if (fd <= 2 || n <= PIECE) return real(fd, data, n);
    ssize_t k = real(fd, data, PIECE);
    struct timespec pause = {0, 1000000};
    nanosleep(&pause, NULL);
    return k;
}

int linkat(int from_dir, const char *from, int to_dir, const char *to, int flags) {
    static int (*real)(int, const char *, int, const char *, int);
    if (getenv("SHIM_NO_LINKAT")) {
        errno = ENOENT;
        return -1;
    }
    if (!real) real = (int (*)(int, const char *, int, const char *, int))dlsym(RTLD_NEXT, "linkat");
    return real(from_dir, from, to_dir, to, flags);
}
