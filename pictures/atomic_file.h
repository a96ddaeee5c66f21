// A file that appears whole or not at all: written under a temporary name beside its target and renamed
// over the target once complete. Internal to pictures/.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdio.h> // renameat
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace quillmark {

// The calls through which the contents reach the disk. The defaults are the system's own; tests replace
// them to make each one fail in turn. Each reports failure as the system call does: -1 (EOF for flush)
// with errno set.
struct FileCalls {
    std::function<ssize_t(int fd, const void* bytes, std::size_t count)> write = ::write;
    std::function<int(std::FILE* stream)> flush = std::fflush;
    std::function<int(int fd)> sync = ::fsync;
    // Releases the descriptor even when it reports failure, as close does on Linux.
    std::function<int(int fd)> close = ::close;
    std::function<int(int fromFolder, const char* from, int toFolder, const char* to)> rename = ::renameat;
};

class AtomicFile {
public:
    // Creates the temporary file in the folder of the target. A symbolic link as target is followed to the
    // file it finally names, which is replaced and the link kept. A new file gets the permissions of the
    // process's umask; a replaced one keeps its permissions, and its owner and group where the process may
    // give them (set-user-ID and set-group-ID bits only with them). No file when the name has no file part,
    // the folder cannot be written, the links loop, the target exists and is not a regular file (a folder, a
    // device), or the target is a file the process may not write: the same refusals as opening the target
    // for writing, except that a writable file in a folder the process cannot write is refused too. errno
    // tells why.
    static std::optional<AtomicFile> create(const std::filesystem::path& target, const FileCalls& calls = {});

    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&& other) noexcept;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Without a successful commit the temporary file is closed and removed; the target is as it was. errno is
    // left as the first failure set it.
    ~AtomicFile();

    // Where the contents go, until commit.
    std::FILE* stream() const { return stream_; }

    // Flushes the contents to the disk and renames the file over the target. False, with the temporary
    // file removed, the target untouched and errno telling the first failure, when any of that fails.
    bool commit();

    struct Sink; // the descriptor under the stream, and the calls it goes through

private:
    AtomicFile(std::FILE* stream, std::unique_ptr<Sink> sink, int folder, std::string temporary,
               std::string target);
    void discard();

    std::FILE* stream_ = nullptr;
    std::unique_ptr<Sink> sink_;
    int folder_ = -1;       // the target's folder, which the names below are in
    std::string temporary_; // empty once renamed or removed
    std::string target_;
};

} // namespace quillmark
