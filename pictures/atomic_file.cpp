#include "pictures/atomic_file.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace quillmark {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxLinkHops = 40;       // as the kernel allows before ELOOP
constexpr int kMaxNameAttempts = 64;   // O_EXCL collisions on random names are rare; a loop means trouble
constexpr std::size_t kNameKept = 200; // of the target's name in the temporary one, to stay below NAME_MAX

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
        if (error) return std::nullopt;
        name = link.is_absolute() ? std::move(link) : name.parent_path() / link;
    }
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

// Hidden, and named after the target, so that one left behind by a crash can be told apart.
int createTemporary(const fs::path& target, fs::path& temporary) {
    const std::string stem = "." + target.filename().native().substr(0, kNameKept) + ".";
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        temporary = target.parent_path() / (stem + randomSuffix(attempt) + ".part");
        // 0666 lets the umask decide a new file's permissions, as creating the target directly would.
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Makes the rename itself survive a crash; the file is already complete whether this works or not.
void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

std::optional<AtomicFile> AtomicFile::create(const fs::path& target) {
    auto resolved = finalTarget(target);
    if (!resolved || !resolved->has_filename()) return std::nullopt;

    struct stat existing {};
    const bool replacing = ::lstat(resolved->c_str(), &existing) == 0;
    if (!replacing && errno != ENOENT) return std::nullopt;
    if (replacing && !S_ISREG(existing.st_mode)) return std::nullopt;

    fs::path temporary;
    const int fd = createTemporary(*resolved, temporary);
    if (fd < 0) return std::nullopt;

    bool ready = true;
    if (replacing) {
        // The replacement should look like the file it replaces. Only root may give a file away, so a
        // failed chown is no reason to fail the save.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
            [[maybe_unused]] const int owned = ::fchown(fd, existing.st_uid, existing.st_gid);
        }
        ready = ::fchmod(fd, existing.st_mode & 07777) == 0;
    }
    std::FILE* stream = ready ? ::fdopen(fd, "wb") : nullptr;
    if (!stream) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return std::nullopt;
    }
    return AtomicFile(stream, std::move(temporary), std::move(*resolved));
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)), temporary_(std::exchange(other.temporary_, {})),
      target_(std::move(other.target_)) {}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept {
    if (this != &other) {
        discard();
        stream_ = std::exchange(other.stream_, nullptr);
        temporary_ = std::exchange(other.temporary_, {});
        target_ = std::move(other.target_);
    }
    return *this;
}

AtomicFile::~AtomicFile() {
    discard();
}

void AtomicFile::discard() {
    if (stream_) std::fclose(std::exchange(stream_, nullptr));
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

bool AtomicFile::commit() {
    if (!stream_) return false;
    std::FILE* stream = std::exchange(stream_, nullptr);
    // A write error the writer missed, a full disk found only on flushing or syncing, or a close that fails
    // on a network file system: all mean the contents may not be there.
    const bool written = !std::ferror(stream) && std::fflush(stream) == 0 && ::fsync(::fileno(stream)) == 0;
    const bool closed = std::fclose(stream) == 0;
    if (!written || !closed || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        discard();
        return false;
    }
    temporary_.clear();
    syncFolder(target_.parent_path());
    return true;
}

} // namespace quillmark
