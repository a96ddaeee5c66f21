#include "pictures/atomic_file.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <system_error>
#include <utility>

namespace quillmark {

namespace fs = std::filesystem;

struct AtomicFile::Sink {
    int fd = -1;
    FileCalls calls;
    int error = 0;           // errno of the first failed write
    bool discarding = false; // what the stream still buffers is dropped, not written
};

namespace {

constexpr int kMaxLinkHops = 40;       // as the kernel allows before ELOOP
constexpr int kMaxNameAttempts = 64;   // O_EXCL collisions on random names are rare; a loop means trouble
constexpr std::size_t kNameKept = 200; // of the target's name in the temporary one, to stay below NAME_MAX

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// The name that opening the target for writing would create or replace: symbolic links followed to the end
// of their chain, which need not exist yet.
std::optional<fs::path> finalTarget(fs::path name) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info {};
        if (::lstat(name.c_str(), &info) != 0) {
            if (errno == ENOENT) return name;
            return std::nullopt;
        }
        if (!S_ISLNK(info.st_mode)) return name;
        std::error_code error;
        fs::path link = fs::read_symlink(name, error);
        if (error) {
            errno = error.value();
            return std::nullopt;
        }
        name = link.is_absolute() ? std::move(link) : name.parent_path() / link;
    }
    errno = ELOOP;
    return std::nullopt;
}

std::string randomSuffix(int attempt) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::uint64_t kLetterCount = sizeof kLetters - 1;
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        // Without the kernel's entropy O_EXCL still keeps names unique; this only makes clashes unlikely.
        bits = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               (static_cast<std::uint64_t>(::getpid()) << 32) ^ static_cast<std::uint64_t>(attempt);
    }
    std::string suffix;
    for (int i = 0; i < 8; ++i) {
        suffix += kLetters[bits % kLetterCount];
        bits /= kLetterCount;
    }
    return suffix;
}

// Hidden, and named after the target, so that one left behind by a crash can be told apart. Made relative to
// the folder, so that a target name near the longest path the system takes still gets its temporary file.
int createTemporary(int folder, const std::string& target, std::string& temporary) {
    const std::string stem = "." + target.substr(0, kNameKept) + ".";
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        temporary = stem + randomSuffix(attempt) + ".part";
        // 0666 lets the umask decide a new file's permissions, as creating the target directly would.
        const int fd =
            ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// The replacement should look like the file it replaces. Only root may give a file away, so an owner that
// cannot be kept is no reason to fail the save; the set-ID bits are then dropped, as a write by another user
// would drop them.
bool takeOverLooks(int fd, const struct stat& existing) {
    bool owned = existing.st_uid == ::geteuid() && existing.st_gid == ::getegid();
    if (!owned) owned = ::fchown(fd, existing.st_uid, existing.st_gid) == 0;
    return ::fchmod(fd, existing.st_mode & (owned ? 07777 : 01777)) == 0;
}

// A short count marks the stream as failed; the first failure's errno is kept for the caller.
ssize_t writeToSink(void* cookie, const char* bytes, std::size_t count) {
    auto* sink = static_cast<AtomicFile::Sink*>(cookie);
    if (sink->discarding) return static_cast<ssize_t>(count);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t wrote = sink->calls.write(sink->fd, bytes + done, count - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            if (wrote == 0) errno = EIO;
            if (sink->error == 0) sink->error = errno;
            break;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return static_cast<ssize_t>(done);
}

int closeSink(void* cookie) {
    auto* sink = static_cast<AtomicFile::Sink*>(cookie);
    const int fd = std::exchange(sink->fd, -1);
    return fd < 0 ? 0 : sink->calls.close(fd);
}

// Makes the rename itself survive a crash; the file is already complete whether this works or not.
void syncFolder(int folder) {
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

std::optional<AtomicFile> AtomicFile::create(const fs::path& target, const FileCalls& calls) {
    auto resolved = finalTarget(target);
    if (!resolved) return std::nullopt;
    if (!resolved->has_filename()) {
        errno = EISDIR;
        return std::nullopt;
    }
    const fs::path folderName = resolved->parent_path();
    const std::string name = resolved->filename().native();
    // Everything from here on is done relative to the folder, so it stays the same folder throughout.
    Descriptor folder(
        ::open(folderName.empty() ? "." : folderName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return std::nullopt;

    struct stat existing {};
    const bool replacing = ::fstatat(folder.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (!replacing && errno != ENOENT) return std::nullopt;
    if (replacing && !S_ISREG(existing.st_mode)) {
        errno = S_ISDIR(existing.st_mode) ? EISDIR : ENOTSUP;
        return std::nullopt;
    }
    // Renaming needs only the folder's permission; a file its owner made read-only stays as it is.
    if (replacing && ::faccessat(folder.get(), name.c_str(), W_OK, AT_EACCESS) != 0) return std::nullopt;

    auto sink = std::make_unique<Sink>(Sink{-1, calls, 0, false});
    std::string temporary;
    sink->fd = createTemporary(folder.get(), name, temporary);
    if (sink->fd < 0) return std::nullopt;

    const bool ready = !replacing || takeOverLooks(sink->fd, existing);
    std::FILE* stream =
        ready ? ::fopencookie(sink.get(), "wb", {nullptr, writeToSink, nullptr, closeSink}) : nullptr;
    if (!stream) {
        const int cause = errno;
        ::close(sink->fd);
        ::unlinkat(folder.get(), temporary.c_str(), 0);
        errno = cause;
        return std::nullopt;
    }
    return AtomicFile(stream, std::move(sink), folder.release(), std::move(temporary), name);
}

AtomicFile::AtomicFile(std::FILE* stream, std::unique_ptr<Sink> sink, int folder, std::string temporary,
                       std::string target)
    : stream_(stream), sink_(std::move(sink)), folder_(folder), temporary_(std::move(temporary)),
      target_(std::move(target)) {}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)), sink_(std::move(other.sink_)),
      folder_(std::exchange(other.folder_, -1)), temporary_(std::exchange(other.temporary_, {})),
      target_(std::move(other.target_)) {}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept {
    if (this != &other) {
        discard();
        if (folder_ >= 0) ::close(folder_);
        stream_ = std::exchange(other.stream_, nullptr);
        sink_ = std::move(other.sink_);
        folder_ = std::exchange(other.folder_, -1);
        temporary_ = std::exchange(other.temporary_, {});
        target_ = std::move(other.target_);
    }
    return *this;
}

AtomicFile::~AtomicFile() {
    discard();
    if (folder_ >= 0) {
        const int cause = errno;
        ::close(folder_);
        errno = cause;
    }
}

void AtomicFile::discard() {
    const int cause = sink_ && sink_->error != 0 ? sink_->error : errno;
    if (stream_) {
        sink_->discarding = true;
        std::fclose(std::exchange(stream_, nullptr));
    }
    if (!temporary_.empty()) {
        ::unlinkat(folder_, temporary_.c_str(), 0);
        temporary_.clear();
    }
    errno = cause;
}

bool AtomicFile::commit() {
    if (!stream_) return false;
    // A write error the writer missed, a full disk found only on flushing or syncing, or a close that fails
    // on a network file system: all mean the contents may not be there.
    if (std::ferror(stream_) || sink_->calls.flush(stream_) != 0 || sink_->calls.sync(sink_->fd) != 0) {
        discard();
        return false;
    }
    const bool closed = std::fclose(std::exchange(stream_, nullptr)) == 0;
    if (!closed || sink_->calls.rename(folder_, temporary_.c_str(), folder_, target_.c_str()) != 0) {
        discard();
        return false;
    }
    temporary_.clear();
    syncFolder(folder_);
    return true;
}

} // namespace quillmark
