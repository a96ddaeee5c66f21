// Reading Mode 7 screen files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>

namespace quillmark {

enum class ScreenReadError {
    None,
    NoSuchFile,
    IsFolder,
    NotRegularFile, // FIFO, socket, device ...
    CannotOpen,     // no permission, say
    Empty,
    CannotRead,
};

struct ScreenRead {
    ScreenReadError error = ScreenReadError::None;
    std::size_t bytesRead = 0;
    explicit operator bool() const { return error == ScreenReadError::None; }
};

// "no such file", "is a folder", ... for messages.
const char* describe(ScreenReadError error);

// Reads up to buffer.size() bytes from the start of a regular file into the start of the buffer. Bytes the
// file does not reach keep their values; on any failure the whole buffer is unchanged. Anything but a regular
// file is refused before a byte is read, and opening never waits on a FIFO. The file is closed on return.
ScreenRead readScreenFile(const std::filesystem::path& name, std::span<std::uint8_t> buffer);

// The same from an open stream (standard input, say), reading until the buffer is full or the stream ends.
ScreenRead readScreenStream(std::FILE* stream, std::span<std::uint8_t> buffer);

} // namespace quillmark
