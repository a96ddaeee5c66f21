// quillmark-render, the real program under a timeout, on input and output names that are not the plain
// files it expects: special files, links, files changed while it reads them, a sparse 4 GiB file, files and
// folders it may not use, and awkward names. It never hangs or crashes, names the file in one line when it
// refuses it, and exits with 1 then, 0 when every screen was converted, 2 for a usage error.
#include "pictures/save_types.h"
#include "pictures/screen_file.h"
#include "support.h"
#include "teletext/renderer.h"

#include <array>
#include <gtest/gtest.h>
#include <numeric>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>

namespace quillmark::reliability {
namespace {

const fs::path kRender = QUILLMARK_RENDER_PROGRAM;
const fs::path kSwapLibrary = QUILLMARK_SWAP_LIBRARY;
const fs::path kSamples = QUILLMARK_SAMPLES;

// The one line that names the file; a control character in the name shows as '?', so it stays one line.
std::string message(std::string_view name, std::string_view reason) {
    std::string shown;
    for (const char c : name)
        shown.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
    return "quillmark-render: " + shown + ": " + std::string(reason) + "\n";
}

std::string reason(ScreenReadError error) {
    return describe(error);
}

// What "Save as..." writes as PNG for a screen file with these bytes.
Bytes pictureOf(const Bytes& file) {
    std::array<std::uint8_t, kScreenBufferBytes> screen{};
    std::copy_n(file.begin(), std::min(file.size(), screen.size()), screen.begin());
    const Picture picture = renderScreen(screen, LargeGlyphs).value();
    Scratch scratch;
    if (!savePictureAs(picture, scratch / "reference.png", kPngPosition)) return {};
    return readBytes(scratch / "reference.png");
}

const Bytes& testCard() {
    static const Bytes bytes = readBytes(kSamples / "testcard.bin");
    return bytes;
}

// The environment that has the swap library change `name` when the program opens it, and log its reads.
std::vector<std::string> watching(const fs::path& name, const std::string& action, const fs::path& log,
                                  const std::string& with = {}, const std::string& length = {}) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    // Under AddressSanitizer its runtime wants to be the first library; this one is harmless before it.
    return {"LD_PRELOAD=" + kSwapLibrary.string(),
            std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0",
            "QUILLMARK_SWAP_PATH=" + name.string(),
            "QUILLMARK_SWAP_ACTION=" + action,
            "QUILLMARK_SWAP_WITH=" + with,
            "QUILLMARK_SWAP_LENGTH=" + length,
            "QUILLMARK_READ_LOG=" + log.string()};
}

// The bytes the program read from the watched file, and in how many reads.
std::pair<long long, int> bytesRead(const fs::path& log) {
    const Bytes text = readBytes(log);
    std::istringstream lines(std::string(text.begin(), text.end()));
    long long total = 0;
    int reads = 0;
    for (long long got = 0; lines >> got; ++reads)
        total += got;
    return {total, reads};
}

void expectRefused(const Result& run, const std::string& expectedError, const fs::path& out) {
    EXPECT_EQ(run.outcome.how, Status::Exited);
    EXPECT_EQ(run.outcome.code, 1);
    EXPECT_EQ(run.err, expectedError);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Scratch::names(out), std::vector<std::string>{}) << "a picture was written";
}

TEST(HostileScreens, SpecialFilesAndBrokenNamesAreRefusedAtOnceWithALineNamingThem) {
    Scratch scratch;
    const fs::path out = scratch / "out";
    fs::create_directories(out);
    ASSERT_EQ(::mkfifo((scratch / "fifo.bin").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((scratch / "line\nbreak.bin").c_str(), 0644), 0);
    const int listening = bindSocket(scratch / "socket.bin");
    ASSERT_TRUE(fs::is_socket(scratch / "socket.bin"));
    fs::create_directories(scratch / "folder.bin");
    fs::create_symlink("loop-b.bin", scratch / "loop-a.bin");
    fs::create_symlink("loop-a.bin", scratch / "loop-b.bin");
    fs::create_symlink("nowhere.bin", scratch / "dangling.bin");
    const auto tooLong = deepFile(scratch / "deep", 4200, "screen.bin", testCard());
    ASSERT_TRUE(tooLong);

    const std::pair<std::string, std::string> cases[] = {
        {(scratch / "fifo.bin").string(),
         reason(ScreenReadError::NotRegularFile)}, // no writer: open would wait
        {(scratch / "line\nbreak.bin").string(), reason(ScreenReadError::NotRegularFile)},
        {"/dev/zero", reason(ScreenReadError::NotRegularFile)},    // endless
        {"/dev/urandom", reason(ScreenReadError::NotRegularFile)}, // endless and different each time
        {(scratch / "socket.bin").string(), reason(ScreenReadError::NotRegularFile)},
        {(scratch / "folder.bin").string(), reason(ScreenReadError::IsFolder)},
        {(scratch / "loop-a.bin").string(), reason(ScreenReadError::CannotOpen)},
        {(scratch / "dangling.bin").string(), reason(ScreenReadError::NoSuchFile)},
        {tooLong->string(), reason(ScreenReadError::CannotOpen)}, // longer than any path the system takes
    };
    for (const auto& [name, why] : cases) {
        SCOPED_TRACE(name.substr(0, 200));
        expectRefused(runProgram(kRender, {"-o", out.string(), name}), message(name, why), out);
    }
    ::close(listening);
}

TEST(HostileScreens, AScreenChangedBetweenTheLookAndTheReadIsRefusedOrReadAsItIsThen) {
    struct Case {
        const char* what;
        std::string action;
        std::string replacement; // made beside the screen, by kind: "fifo", "folder", "device"
        std::string length;
        int status;
        std::string reason;
        std::size_t read; // bytes the program read, when it got to reading
    };
    const Case cases[] = {
        {"removed", "remove", "", "", 1, reason(ScreenReadError::NoSuchFile), 0},
        {"replaced by a FIFO", "replace", "fifo", "", 1, reason(ScreenReadError::NotRegularFile), 0},
        {"replaced by a folder", "replace", "folder", "", 1, reason(ScreenReadError::IsFolder), 0},
        {"replaced by a link to a device", "replace", "device", "", 1,
         reason(ScreenReadError::NotRegularFile), 0},
        {"emptied after opening", "truncate", "", "0", 1, reason(ScreenReadError::Empty), 0},
        {"cut to 10 bytes after opening", "truncate", "", "10", 0, "", 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch scratch;
        const fs::path out = scratch / "out";
        fs::create_directories(out);
        const fs::path screen = scratch / "screen.bin";
        ASSERT_TRUE(writeBytes(screen, testCard()));
        const fs::path with = scratch / "replacement";
        if (c.replacement == "fifo") {
            ASSERT_EQ(::mkfifo(with.c_str(), 0644), 0);
        }
        if (c.replacement == "folder") fs::create_directories(with);
        if (c.replacement == "device") fs::create_symlink("/dev/zero", with);

        const Result run = runProgram(kRender, {"-o", out.string(), screen.string()},
                                      watching(screen, c.action, scratch / "reads", with.string(), c.length));
        ASSERT_EQ(run.outcome.how, Status::Exited);
        EXPECT_EQ(run.outcome.code, c.status);
        EXPECT_EQ(run.err, c.reason.empty() ? "" : message(screen.string(), c.reason));
        EXPECT_EQ(bytesRead(scratch / "reads").first, static_cast<long long>(c.read));
        // The change did happen while the program ran.
        if (c.action == "remove") {
            EXPECT_FALSE(fs::exists(fs::symlink_status(screen)));
        } else if (c.action == "replace") {
            EXPECT_FALSE(fs::exists(fs::symlink_status(with)));
        } else {
            EXPECT_EQ(fs::file_size(screen), std::stoul(c.length));
        }
        if (c.status == 0) {
            const Bytes first(testCard().begin(), testCard().begin() + 10);
            EXPECT_EQ(readBytes(out / "screen.png"), pictureOf(first));
        } else {
            EXPECT_EQ(Scratch::names(out), std::vector<std::string>{});
        }
    }
}

TEST(HostileScreens, NoMoreThan1024BytesAreReadEvenFromASparse4GiBFile) {
    Scratch scratch;
    const fs::path out = scratch / "out";
    fs::create_directories(out);
    const fs::path sparse = scratch / "sparse.bin";
    ASSERT_TRUE(writeBytes(sparse, {}));
    ASSERT_EQ(::truncate(sparse.c_str(), 4LL << 30), 0);
    Bytes longer(2000);
    std::iota(longer.begin(), longer.end(), std::uint8_t{0});
    ASSERT_TRUE(writeBytes(scratch / "longer.bin", longer));

    const std::pair<fs::path, Bytes> cases[] = {{sparse, Bytes(1024, 0)}, {scratch / "longer.bin", longer}};
    for (const auto& [screen, bytes] : cases) {
        SCOPED_TRACE(screen);
        const fs::path log = scratch / (screen.stem().string() + ".reads");
        const Result run =
            runProgram(kRender, {"-o", out.string(), screen.string()}, watching(screen, "", log));
        ASSERT_EQ(run.outcome.how, Status::Exited);
        EXPECT_EQ(run.outcome.code, 0) << run.err;
        EXPECT_EQ(bytesRead(log).first, 1024);
        EXPECT_EQ(readBytes(out / (screen.stem().string() + ".png")), pictureOf(bytes));
    }
}

TEST(HostileScreens, AwkwardNamesAreReadAndGiveTheirNamesToTheirPictures) {
    Scratch scratch;
    const fs::path out = scratch / "out";
    fs::create_directories(out);
    const Bytes expected = pictureOf(testCard());
    const std::string names[] = {
        "écran d'été ✓",          // UTF-8 letters beyond ASCII
        "latin-1 \xe9t\xe9 \xff", // bytes that are not UTF-8 at all
        "  blanks  around  ",     //
        "line\nbreak",            //
        "-leading-dash",          // needs "--" to be a name
        "100%#?*[glob]",          // what shells and URLs make something of
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const fs::path screen = scratch / (name + ".bin");
        ASSERT_TRUE(writeBytes(screen, testCard()));
        const Result run = runProgram(kRender, {"-o", out.string(), "--", screen.string()});
        ASSERT_EQ(run.outcome.how, Status::Exited);
        EXPECT_EQ(run.outcome.code, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(readBytes(out / (name + ".png")), expected);
    }
    EXPECT_EQ(Scratch::names(out).size(), std::size(names));

    // A leading dash without "--" is an option the program does not know; with "./" in front it is a name.
    ASSERT_TRUE(writeBytes(scratch / "-dash.bin", testCard()));
    const Result asOption = runProgram(kRender, {"-dash.bin"}, {}, false, scratch.path());
    EXPECT_EQ(asOption.outcome.how, Status::Exited);
    EXPECT_EQ(asOption.outcome.code, 2);
    EXPECT_FALSE(fs::exists(scratch / "-dash.png"));
    const Result asName = runProgram(kRender, {"./-dash.bin"}, {}, false, scratch.path());
    EXPECT_EQ(asName.outcome.code, 0) << asName.err;
    EXPECT_EQ(readBytes(scratch / "-dash.png"), expected);

    // Within a few bytes of the longest path the system takes, picture beside screen: its temporary file's
    // name would be past the limit spelt out in full.
    const auto deep = deepFile(scratch / "deep", 4090, "s.bin", testCard());
    ASSERT_TRUE(deep);
    const Result deepRun = runProgram(kRender, {deep->string()});
    EXPECT_EQ(deepRun.outcome.code, 0) << deepRun.err.substr(0, 300);
    EXPECT_EQ(readDeep(deep->parent_path() / "s.png"), expected);
}

TEST(HostileOutputs, TargetsThatAreNotFilesAreRefusedWithoutOpeningThem) {
    Scratch scratch;
    const fs::path screen = scratch / "screen.bin";
    ASSERT_TRUE(writeBytes(screen, testCard()));
    ASSERT_EQ(::mkfifo((scratch / "fifo.png").c_str(), 0644), 0); // no reader: opening it would wait
    fs::create_symlink("loop-b.png", scratch / "loop-a.png");
    fs::create_symlink("loop-a.png", scratch / "loop-b.png");
    fs::create_symlink("/dev/full", scratch / "device.png");
    const auto tooLong = deepFile(scratch / "deep", 4200, "screen.png", {});
    ASSERT_TRUE(tooLong);
    const std::vector<std::string> before = Scratch::names(scratch.path());

    const std::pair<std::string, std::string> cases[] = {
        {(scratch / "fifo.png").string(), "cannot write (Operation not supported)"},
        {(scratch / "device.png").string(), "cannot write (Operation not supported)"},
        {(scratch / "loop-a.png").string(), "cannot write (Too many levels of symbolic links)"},
        {tooLong->string(), "cannot write (File name too long)"},
    };
    for (const auto& [target, why] : cases) {
        SCOPED_TRACE(target.substr(0, 200));
        const Result run = runProgram(kRender, {"-o", target, screen.string()});
        ASSERT_EQ(run.outcome.how, Status::Exited);
        EXPECT_EQ(run.outcome.code, 1);
        EXPECT_EQ(run.err, message(target, why));
        EXPECT_EQ(Scratch::names(scratch.path()), before);
    }
    EXPECT_TRUE(fs::is_fifo(scratch / "fifo.png"));
    EXPECT_EQ(readDeep(*tooLong), Bytes{});
}

TEST(HostileOutputs, AFullDiskExitsWithOneAndLeavesTheEarlierPicture) {
    Scratch scratch;
    const fs::path screen = scratch / "screen.bin";
    ASSERT_TRUE(writeBytes(screen, testCard()));
    SmallDisk disk(scratch / "disk", "size=256k,mode=0755");
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot();
    const fs::path target = disk.path() / "screen.png";
    const Bytes earlier = {'o', 'l', 'd'};
    ASSERT_TRUE(writeBytes(target, earlier));
    ASSERT_TRUE(disk.fillLeaving(4096));

    const Result run = runProgram(kRender, {"-o", target.string(), screen.string()});
    ASSERT_EQ(run.outcome.how, Status::Exited);
    EXPECT_EQ(run.outcome.code, 1);
    EXPECT_EQ(run.err, message(target.string(), "cannot write (No space left on device)"));
    EXPECT_EQ(readBytes(target), earlier);
    EXPECT_EQ(Scratch::names(disk.path()), (std::vector<std::string>{".filler", "screen.png"}));
}

// Root reads and writes anywhere, so these run the program as nobody when the tests run as root.
class UnprivilegedRender : public ::testing::Test {
protected:
    void SetUp() override {
        const Result probe = runProgram(kRender, {"--version"}, {}, true);
        if (probe.outcome.how != Status::Exited || probe.outcome.code != 0)
            GTEST_SKIP() << "the unprivileged user cannot run " << kRender;
        out_ = scratch_.sharedFolder("out");
    }
    Result run(const std::vector<std::string>& arguments) const {
        return runProgram(kRender, arguments, {}, true);
    }

    Scratch scratch_;
    fs::path out_;
};

TEST_F(UnprivilegedRender, AScreenItMayNotReadIsRefusedWithALineNamingIt) {
    const fs::path locked = scratch_ / "locked.bin";
    ASSERT_TRUE(writeBytes(locked, testCard()));
    ::chmod(locked.c_str(), 0);
    const fs::path closedFolder = scratch_ / "closed";
    fs::create_directories(closedFolder);
    ASSERT_TRUE(writeBytes(closedFolder / "inside.bin", testCard()));
    ::chmod(closedFolder.c_str(), 0);

    for (const fs::path& screen : {locked, closedFolder / "inside.bin"}) {
        SCOPED_TRACE(screen);
        expectRefused(run({"-o", out_.string(), screen.string()}),
                      message(screen.string(), reason(ScreenReadError::CannotOpen)), out_);
    }
}

TEST_F(UnprivilegedRender, AFolderOrFileItMayNotWriteIsLeftAsItWas) {
    const fs::path screen = scratch_ / "screen.bin";
    ASSERT_TRUE(writeBytes(screen, testCard()));
    const Bytes earlier = {'o', 'l', 'd'};
    const fs::path lockedFolder = scratch_ / "locked";
    fs::create_directories(lockedFolder);
    ASSERT_TRUE(writeBytes(lockedFolder / "screen.png", earlier));
    ::chmod((lockedFolder / "screen.png").c_str(), 0666);
    ::chmod(lockedFolder.c_str(), 0555);
    ASSERT_TRUE(writeBytes(out_ / "read-only.png", earlier));
    if (::geteuid() == 0) ::chown((out_ / "read-only.png").c_str(), kUnprivilegedId, kUnprivilegedId);
    ::chmod((out_ / "read-only.png").c_str(), 0444);

    for (const fs::path& target :
         {lockedFolder / "screen.png", lockedFolder / "new.png", out_ / "read-only.png"}) {
        SCOPED_TRACE(target);
        const Result refused = run({"-o", target.string(), screen.string()});
        ASSERT_EQ(refused.outcome.how, Status::Exited);
        EXPECT_EQ(refused.outcome.code, 1);
        EXPECT_EQ(refused.err, message(target.string(), "cannot write (Permission denied)"));
    }
    EXPECT_EQ(readBytes(lockedFolder / "screen.png"), earlier);
    EXPECT_EQ(readBytes(out_ / "read-only.png"), earlier);
    EXPECT_EQ(Scratch::names(lockedFolder), std::vector<std::string>{"screen.png"});
    EXPECT_EQ(Scratch::names(out_), std::vector<std::string>{"read-only.png"});
}

} // namespace
} // namespace quillmark::reliability
