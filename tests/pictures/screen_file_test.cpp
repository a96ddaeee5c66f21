#include "pictures/screen_file.h"
#include "temp_folder.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace quillmark {
namespace {

using test::TempFolder;
using test::writeBytes;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kEarlier = 0xEE; // what the screen buffer held before a read

Bytes fileBytes(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

std::array<std::uint8_t, 1024> earlierBuffer() {
    std::array<std::uint8_t, 1024> buffer;
    buffer.fill(kEarlier);
    return buffer;
}

std::size_t openDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

TEST(ScreenFile, ReadsUpTo1024BytesFromTheStartAndLeavesTheRestOfTheBufferAlone) {
    for (const std::size_t size :
         {std::size_t{1}, std::size_t{500}, std::size_t{1000}, std::size_t{1024}, std::size_t{2000}}) {
        TempFolder folder;
        const Bytes file = fileBytes(size);
        writeBytes(folder / "screen", file);
        auto buffer = earlierBuffer();

        const ScreenRead read = readScreenFile(folder / "screen", buffer);
        ASSERT_TRUE(read) << size << ": " << describe(read.error);
        const std::size_t expected = std::min<std::size_t>(size, 1024);
        EXPECT_EQ(read.bytesRead, expected) << size;
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + expected, file.begin())) << size;
        EXPECT_TRUE(std::all_of(buffer.begin() + expected, buffer.end(), [](auto b) {
            return b == kEarlier;
        })) << size;
    }
}

TEST(ScreenFile, RefusesAnythingButANonEmptyReadableFileAndLeavesTheBufferUnchanged) {
    TempFolder folder;
    writeBytes(folder / "empty", {});
    std::filesystem::create_directory(folder / "folder");
    std::filesystem::create_symlink("folder", folder / "link-to-folder");
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketName = (folder / "socket").string();
    ASSERT_LT(socketName.size(), sizeof address.sun_path);
    socketName.copy(address.sun_path, socketName.size());
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    const std::pair<std::filesystem::path, ScreenReadError> cases[] = {
        {"", ScreenReadError::NoSuchFile},
        {folder / "missing", ScreenReadError::NoSuchFile},
        {folder / "empty" / "below-a-file", ScreenReadError::NoSuchFile},
        {folder / "empty", ScreenReadError::Empty},
        {folder / "folder", ScreenReadError::IsFolder},
        {folder / "link-to-folder", ScreenReadError::IsFolder},
        {folder / "fifo", ScreenReadError::NotRegularFile}, // with no writer: opening it would wait
        {folder / "socket", ScreenReadError::NotRegularFile},
        {"/dev/zero", ScreenReadError::NotRegularFile},
    };
    const std::size_t descriptors = openDescriptors();
    for (const auto& [name, error] : cases) {
        auto buffer = earlierBuffer();
        const ScreenRead read = readScreenFile(name, buffer);
        EXPECT_EQ(read.error, error) << name << ": " << describe(read.error);
        EXPECT_EQ(read.bytesRead, 0u) << name;
        EXPECT_EQ(buffer, earlierBuffer()) << name;
    }
    EXPECT_EQ(openDescriptors(), descriptors) << "a file left open";
    ::close(listening);
}

TEST(ScreenFile, AReadErrorLeavesTheBufferUnchanged) {
    // A regular file whose first bytes give an I/O error: the process's memory at address 0.
    auto buffer = earlierBuffer();
    EXPECT_EQ(readScreenFile("/proc/self/mem", buffer).error, ScreenReadError::CannotRead);
    EXPECT_EQ(buffer, earlierBuffer());
}

TEST(ScreenFile, AFileWithoutReadPermissionCannotBeOpened) {
    if (::geteuid() == 0) GTEST_SKIP() << "root opens any file";
    TempFolder folder;
    writeBytes(folder / "locked", fileBytes(10));
    ::chmod((folder / "locked").c_str(), 0);
    auto buffer = earlierBuffer();
    EXPECT_EQ(readScreenFile(folder / "locked", buffer).error, ScreenReadError::CannotOpen);
    EXPECT_EQ(buffer, earlierBuffer());
}

TEST(ScreenFile, ReadsAStreamUntilTheBufferIsFullOrTheStreamEnds) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const Bytes sent = fileBytes(300);
    ASSERT_EQ(::write(ends[1], sent.data(), sent.size()), 300);
    ::close(ends[1]);
    std::FILE* pipe = ::fdopen(ends[0], "rb");
    ASSERT_NE(pipe, nullptr);
    auto buffer = earlierBuffer();
    ScreenRead read = readScreenStream(pipe, buffer);
    EXPECT_TRUE(read);
    EXPECT_EQ(read.bytesRead, 300u);
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), buffer.begin()));
    EXPECT_EQ(buffer[300], kEarlier);
    EXPECT_EQ(readScreenStream(pipe, buffer).error, ScreenReadError::Empty) << "at its end";
    std::fclose(pipe);

    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const Bytes longer = fileBytes(2000);
    ASSERT_EQ(std::fwrite(longer.data(), 1, longer.size(), file), longer.size());
    std::rewind(file);
    read = readScreenStream(file, buffer);
    EXPECT_EQ(read.bytesRead, 1024u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), longer.begin()));
    EXPECT_EQ(std::ftell(file), 1024) << "nothing read past the buffer";
    std::fclose(file);
}

TEST(ScreenFile, DescribesEachFailureInAFewLowerCaseWords) {
    const std::pair<ScreenReadError, std::string> cases[] = {
        {ScreenReadError::NoSuchFile, "no such file"},
        {ScreenReadError::IsFolder, "is a folder"},
        {ScreenReadError::NotRegularFile, "not a regular file"},
        {ScreenReadError::CannotOpen, "cannot open"},
        {ScreenReadError::Empty, "empty"},
        {ScreenReadError::CannotRead, "cannot read"},
    };
    for (const auto& [error, text] : cases)
        EXPECT_EQ(describe(error), text);
}

} // namespace
} // namespace quillmark
