#include "pictures/screen_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quillmark {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

ScreenRead failed(ScreenReadError error) {
    return {error, 0};
}

ScreenReadError kindError(mode_t mode) {
    return S_ISDIR(mode) ? ScreenReadError::IsFolder : ScreenReadError::NotRegularFile;
}

std::optional<std::vector<std::uint8_t>> makeBytes(std::size_t count) {
    try {
        return std::vector<std::uint8_t>(count);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

// Copies to the caller only what was read, and only when the read worked: a failed read changes nothing.
ScreenRead deliver(const std::vector<std::uint8_t>& bytes, std::size_t count,
                   std::span<std::uint8_t> buffer) {
    if (count == 0) return failed(ScreenReadError::Empty);
    std::copy_n(bytes.begin(), count, buffer.begin());
    return {ScreenReadError::None, count};
}

} // namespace

const char* describe(ScreenReadError error) {
    switch (error) {
    case ScreenReadError::None:
        return "no error";
    case ScreenReadError::NoSuchFile:
        return "no such file";
    case ScreenReadError::IsFolder:
        return "is a folder";
    case ScreenReadError::NotRegularFile:
        return "not a regular file";
    case ScreenReadError::CannotOpen:
        return "cannot open";
    case ScreenReadError::Empty:
        return "empty";
    case ScreenReadError::CannotRead:
        return "cannot read";
    }
    return "cannot read";
}

ScreenRead readScreenFile(const std::filesystem::path& name, std::span<std::uint8_t> buffer) {
    if (name.empty()) return failed(ScreenReadError::NoSuchFile);
    // Looking before opening keeps devices closed: opening some of them already does something.
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0)
        return failed(errno == ENOENT || errno == ENOTDIR ? ScreenReadError::NoSuchFile
                                                          : ScreenReadError::CannotOpen);
    if (!S_ISREG(info.st_mode)) return failed(kindError(info.st_mode));

    // Should the name have become a FIFO meanwhile, O_NONBLOCK keeps the open from waiting for a writer, and
    // the second look refuses it.
    const FileDescriptor file(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0)
        return failed(errno == ENOENT ? ScreenReadError::NoSuchFile : ScreenReadError::CannotOpen);
    if (::fstat(file.get(), &info) != 0) return failed(ScreenReadError::CannotRead);
    if (!S_ISREG(info.st_mode)) return failed(kindError(info.st_mode));

    auto bytes = makeBytes(buffer.size());
    if (!bytes) return failed(ScreenReadError::CannotRead);
    std::size_t count = 0;
    while (count < bytes->size()) {
        const ssize_t got = ::read(file.get(), bytes->data() + count, bytes->size() - count);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return failed(ScreenReadError::CannotRead);
        if (got == 0) break;
        count += static_cast<std::size_t>(got);
    }
    return deliver(*bytes, count, buffer);
}

ScreenRead readScreenStream(std::FILE* stream, std::span<std::uint8_t> buffer) {
    if (!stream) return failed(ScreenReadError::CannotRead);
    auto bytes = makeBytes(buffer.size());
    if (!bytes) return failed(ScreenReadError::CannotRead);
    // fread keeps reading a pipe until the buffer is full or the writer is done.
    const std::size_t count = std::fread(bytes->data(), 1, bytes->size(), stream);
    if (std::ferror(stream)) return failed(ScreenReadError::CannotRead);
    return deliver(*bytes, count, buffer);
}

} // namespace quillmark
