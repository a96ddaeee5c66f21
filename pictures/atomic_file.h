// A file that appears whole or not at all: written under a temporary name beside its target and renamed
// over the target once complete. Internal to pictures/.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>

namespace quillmark {

class AtomicFile {
public:
    // Creates the temporary file in the folder of the target. A symbolic link as target is followed to the
    // file it finally names, which is replaced and the link kept. A new file gets the permissions of the
    // process's umask, a replaced one keeps its own. No file when the name has no file part, the folder
    // cannot be written, the links loop, or the target exists and is not a regular file (a folder, a device).
    static std::optional<AtomicFile> create(const std::filesystem::path& target);

    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&& other) noexcept;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Without a successful commit the temporary file is closed and removed; the target is as it was.
    ~AtomicFile();

    // Where the contents go, until commit.
    std::FILE* stream() const { return stream_; }

    // Flushes the contents to the disk and renames the file over the target. False, with the temporary
    // file removed and the target untouched, when any of that fails.
    bool commit();

private:
    AtomicFile(std::FILE* stream, std::filesystem::path temporary, std::filesystem::path target)
        : stream_(stream), temporary_(std::move(temporary)), target_(std::move(target)) {}
    void discard();

    std::FILE* stream_ = nullptr;
    std::filesystem::path temporary_; // empty once renamed or removed
    std::filesystem::path target_;
};

} // namespace quillmark
