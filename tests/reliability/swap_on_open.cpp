// Preloaded into a program (or linked into a test) to change a file at the moment a reader opens it: after
// its look at the name and before the open, or after the open and before the read. Without
// QUILLMARK_SWAP_PATH set it only passes every call on.
//
//   QUILLMARK_SWAP_PATH    the name, exactly as the reader passes it to open
//   QUILLMARK_SWAP_ACTION  remove:   unlink the name, then open
//                          replace:  put QUILLMARK_SWAP_WITH (a FIFO, folder, ...) in its place, then open
//                          truncate: open, then cut the file to QUILLMARK_SWAP_LENGTH bytes (default 0)
//   QUILLMARK_READ_LOG     a file that gets one line per read from the name's descriptor: the bytes it gave
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using OpenCall = int (*)(const char*, int, ...);
using OpenAtCall = int (*)(int, const char*, int, ...);
using ReadCall = ssize_t (*)(int, void*, std::size_t);
using CloseCall = int (*)(int);

template <typename Call> Call next(const char* name) {
    return reinterpret_cast<Call>(::dlsym(RTLD_NEXT, name));
}

std::atomic<int> watched{-1};

bool armedFor(const char* path) {
    const char* armed = std::getenv("QUILLMARK_SWAP_PATH");
    return armed && path && std::strcmp(armed, path) == 0;
}

std::string setting(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void beforeOpen(const char* path) {
    const std::string action = setting("QUILLMARK_SWAP_ACTION");
    if (action == "remove") {
        ::unlink(path);
    } else if (action == "replace") {
        const std::string with = setting("QUILLMARK_SWAP_WITH");
        struct stat info {};
        if (::lstat(with.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) ::unlink(path);
        ::rename(with.c_str(), path);
    }
}

void afterOpen(const char* path, int fd) {
    if (fd < 0) return;
    watched = fd;
    if (setting("QUILLMARK_SWAP_ACTION") == "truncate") [[maybe_unused]]
        const int cut = ::truncate(path, std::atoll(setting("QUILLMARK_SWAP_LENGTH").c_str()));
}

template <typename Open> int openWatched(const char* path, Open open) {
    if (!armedFor(path)) return open();
    const int saved = errno;
    beforeOpen(path);
    errno = saved;
    const int fd = open();
    const int cause = errno;
    afterOpen(path, fd);
    errno = cause;
    return fd;
}

void logRead(ssize_t got) {
    static const OpenCall realOpen = next<OpenCall>("open");
    static const CloseCall realClose = next<CloseCall>("close");
    const std::string log = setting("QUILLMARK_READ_LOG");
    if (log.empty()) return;
    const int fd = realOpen(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::string line = std::to_string(got) + "\n";
    [[maybe_unused]] const ssize_t wrote = ::write(fd, line.data(), line.size());
    realClose(fd);
}

mode_t modeOf(int flags, va_list arguments) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, unsigned)) : 0;
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    static const OpenCall real = next<OpenCall>("open");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    return openWatched(path, [&] { return real(path, flags, mode); });
}

int open64(const char* path, int flags, ...) {
    static const OpenCall real = next<OpenCall>("open64");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    return openWatched(path, [&] { return real(path, flags, mode); });
}

int openat(int folder, const char* path, int flags, ...) {
    static const OpenAtCall real = next<OpenAtCall>("openat");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    return openWatched(path, [&] { return real(folder, path, flags, mode); });
}

ssize_t read(int fd, void* bytes, std::size_t count) {
    static const ReadCall real = next<ReadCall>("read");
    const ssize_t got = real(fd, bytes, count);
    if (fd >= 0 && fd == watched) {
        const int cause = errno;
        logRead(got);
        errno = cause;
    }
    return got;
}

int close(int fd) {
    static const CloseCall real = next<CloseCall>("close");
    int expected = fd;
    watched.compare_exchange_strong(expected, -1);
    return real(fd);
}

} // extern "C"
