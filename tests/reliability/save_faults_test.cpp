// Saving when the system fails it: each file call failing in turn, a full disk, a folder that cannot be
// written, and targets that are links, hard links, special files or at the system's name limits. After
// every failure the save says so, no temporary file is left, and an earlier file is as it was.
#include "pictures/save_internal.h"
#include "pictures/save_types.h"
#include "pictures/screen_file.h"
#include "support.h"
#include "teletext/renderer.h"

#include <array>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>

namespace quillmark::reliability {
namespace {

const fs::path kSamples = QUILLMARK_SAMPLES;

// What "Save as..." writes: the test card at the large size.
const Picture& testCard() {
    static const Picture picture = [] {
        std::array<std::uint8_t, kScreenBufferBytes> screen{};
        readScreenFile(kSamples / "testcard.bin", screen);
        return renderScreen(screen, LargeGlyphs).value();
    }();
    return picture;
}

// Random pixels: no type compresses them much, so every save writes many blocks.
Picture noise() {
    Picture picture = Picture::create(480, 500, 32).value();
    std::uint32_t state = 12345;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            picture.setPixel(x, y, state | 0xFF000000u);
        }
    }
    return picture;
}

const char* extension(int position) {
    static constexpr std::array<const char*, 3> extensions = {"bmp", "jpg", "png"};
    return extensions[static_cast<std::size_t>(position)];
}

bool save(const Picture& picture, const fs::path& name, int position, const FileCalls& calls = {}) {
    const SaveType& type = kSaveTypes[static_cast<std::size_t>(position)];
    return savePictureWith(picture, name, type.formatCode, type.qualityLevel, type.depth, calls);
}

enum class Call { None, Write, Flush, Sync, Close, Rename };

const char* nameOf(Call call) {
    switch (call) {
    case Call::None:
        return "nothing";
    case Call::Write:
        return "write";
    case Call::Flush:
        return "flush";
    case Call::Sync:
        return "sync";
    case Call::Close:
        return "close";
    case Call::Rename:
        return "rename";
    }
    return "?";
}

// File calls that fail one chosen call (for writes: the nth) with a chosen errno, and count the writes.
struct Fault {
    Call call = Call::None;
    int nth = 1;
    int error = EIO;
    int writes = 0;

    FileCalls calls() {
        FileCalls calls;
        calls.write = [this](int fd, const void* bytes, std::size_t count) -> ssize_t {
            if (++writes == nth && call == Call::Write) return failed<ssize_t>();
            return ::write(fd, bytes, count);
        };
        calls.flush = [this](std::FILE* stream) {
            return call == Call::Flush ? failed<int>(EOF) : std::fflush(stream);
        };
        calls.sync = [this](int fd) { return call == Call::Sync ? failed<int>() : ::fsync(fd); };
        calls.close = [this](int fd) {
            const int closed = ::close(fd); // the descriptor is gone either way, as on Linux
            return call == Call::Close ? failed<int>() : closed;
        };
        calls.rename = [this](int from, const char* name, int to, const char* target) {
            return call == Call::Rename ? failed<int>() : ::renameat(from, name, to, target);
        };
        return calls;
    }

    template <typename Result> Result failed(Result value = -1) const {
        errno = error;
        return value;
    }
};

// Where the earlier file is: none, under the target's name, or behind a symbolic link from another folder.
enum class Earlier { None, Named, BehindLink };

struct Place {
    fs::path target;                                                    // the name saved to
    std::vector<std::pair<fs::path, std::vector<std::string>>> folders; // each folder's names afterwards
    fs::path earlier; // the file that must keep its bytes, if any
};

const Bytes kEarlierBytes = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};

Place prepare(const Scratch& scratch, Earlier earlier, const std::string& ext) {
    const fs::path here = scratch.path() / "here";
    const fs::path there = scratch.path() / "there";
    fs::create_directories(here);
    fs::create_directories(there);
    Place place;
    place.target = here / ("screen." + ext);
    switch (earlier) {
    case Earlier::None:
        place.folders = {{here, {}}, {there, {}}};
        break;
    case Earlier::Named:
        place.earlier = place.target;
        writeBytes(place.earlier, kEarlierBytes);
        place.folders = {{here, {"screen." + ext}}, {there, {}}};
        break;
    case Earlier::BehindLink:
        place.earlier = there / ("real." + ext);
        writeBytes(place.earlier, kEarlierBytes);
        fs::create_symlink(place.earlier, place.target);
        place.folders = {{here, {"screen." + ext}}, {there, {"real." + ext}}};
        break;
    }
    return place;
}

class SaveFaults : public ::testing::TestWithParam<int> {};

TEST_P(SaveFaults, EachFailingFileCallFailsTheSaveAndLeavesEverythingAsItWas) {
    const int position = GetParam();
    const std::string ext = extension(position);
    Fault counting;
    {
        Scratch scratch;
        ASSERT_TRUE(save(testCard(), scratch / "clean", position, counting.calls()));
    }
    ASSERT_GT(counting.writes, 0);

    struct Case {
        Call call;
        int nth;
        int error;
    };
    std::vector<Case> cases;
    for (int nth = 1; nth <= counting.writes; ++nth)
        cases.push_back({Call::Write, nth, nth % 2 ? ENOSPC : EIO});
    cases.push_back({Call::Flush, 1, EIO});
    cases.push_back({Call::Sync, 1, EIO});
    cases.push_back({Call::Close, 1, EDQUOT}); // as a network file system reports a full quota on closing
    cases.push_back({Call::Rename, 1, EXDEV});

    const std::size_t descriptors = openDescriptors();
    for (const Case& c : cases) {
        for (const Earlier earlier : {Earlier::None, Earlier::Named, Earlier::BehindLink}) {
            SCOPED_TRACE(std::string(nameOf(c.call)) + " #" + std::to_string(c.nth) + " of " + ext +
                         ", earlier file " + std::to_string(static_cast<int>(earlier)));
            Scratch scratch;
            const Place place = prepare(scratch, earlier, ext);
            Fault fault{c.call, c.nth, c.error};
            errno = 0;
            EXPECT_FALSE(save(testCard(), place.target, position, fault.calls()));
            EXPECT_EQ(errno, c.error) << "the first failure is what the caller learns";
            for (const auto& [folder, names] : place.folders)
                EXPECT_EQ(Scratch::names(folder), names) << folder;
            if (!place.earlier.empty()) {
                EXPECT_EQ(readBytes(place.earlier), kEarlierBytes);
            }
            if (earlier == Earlier::BehindLink) {
                EXPECT_TRUE(fs::is_symlink(place.target));
            }
        }
    }
    EXPECT_EQ(openDescriptors(), descriptors) << "a descriptor was left open";
}

TEST_P(SaveFaults, WritesThatTakeOnlyPartOrAreInterruptedAreCarriedOn) {
    const int position = GetParam();
    Scratch scratch;
    ASSERT_TRUE(save(testCard(), scratch / "expected", position));

    // Every other call is interrupted before it writes anything; the others take at most 1000 bytes.
    int calls = 0;
    FileCalls partial;
    partial.write = [&calls](int fd, const void* bytes, std::size_t count) -> ssize_t {
        if (++calls % 2 == 0) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, bytes, std::min<std::size_t>(count, 1000));
    };
    ASSERT_TRUE(save(testCard(), scratch / "saved", position, partial));
    EXPECT_GT(calls, 2);
    EXPECT_EQ(readBytes(scratch / "saved"), readBytes(scratch / "expected"));
    EXPECT_EQ(Scratch::names(scratch.path()), (std::vector<std::string>{"expected", "saved"}));
}

INSTANTIATE_TEST_SUITE_P(EachType, SaveFaults, ::testing::Values(kBmpPosition, kJpegPosition, kPngPosition),
                         [](const auto& instance) { return std::string(extension(instance.param)); });

TEST(FullDisk, ASaveThatRunsOutOfSpacePartWayLeavesTheEarlierFileAndNoOther) {
    Scratch scratch;
    const Picture picture = noise();
    for (const int position : {kBmpPosition, kJpegPosition, kPngPosition}) {
        SCOPED_TRACE(extension(position));
        SmallDisk disk(scratch / ("disk-" + std::string(extension(position))), "size=256k,mode=0755");
        if (!disk.mounted()) GTEST_SKIP() << disk.whyNot();
        const fs::path target = disk.path() / "screen.pic";
        ASSERT_TRUE(writeBytes(target, kEarlierBytes));
        // Room for a few blocks: the save gets that far and no further.
        ASSERT_TRUE(disk.fillLeaving(16384));
        errno = 0;
        EXPECT_FALSE(save(picture, target, position));
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_EQ(readBytes(target), kEarlierBytes);
        EXPECT_EQ(Scratch::names(disk.path()), (std::vector<std::string>{".filler", "screen.pic"}));
    }
}

TEST(FullDisk, NoFileEntryLeftFailsTheSaveBeforeAnythingIsWritten) {
    Scratch scratch;
    SmallDisk disk(scratch / "disk", "size=1m,nr_inodes=3,mode=0755");
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot();
    const fs::path target = disk.path() / "screen.png";
    ASSERT_TRUE(writeBytes(target, kEarlierBytes));
    // The root folder and this file take two entries; one more file takes the last.
    ASSERT_TRUE(writeBytes(disk.path() / "other", {}));
    errno = 0;
    EXPECT_FALSE(save(testCard(), target, kPngPosition));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(readBytes(target), kEarlierBytes);
    EXPECT_EQ(Scratch::names(disk.path()), (std::vector<std::string>{"other", "screen.png"}));
}

TEST(SaveTargets, AHardLinkedTargetBecomesANewFileAndTheOtherNameKeepsTheOldPicture) {
    Scratch scratch;
    ASSERT_TRUE(writeBytes(scratch / "screen.png", kEarlierBytes));
    fs::create_hard_link(scratch / "screen.png", scratch / "other.png");
    ASSERT_TRUE(save(testCard(), scratch / "screen.png", kPngPosition));
    ASSERT_TRUE(save(testCard(), scratch / "expected.png", kPngPosition));
    EXPECT_EQ(readBytes(scratch / "screen.png"), readBytes(scratch / "expected.png"));
    EXPECT_EQ(readBytes(scratch / "other.png"), kEarlierBytes);
    EXPECT_EQ(fs::hard_link_count(scratch / "other.png"), 1u);
    EXPECT_EQ(fs::hard_link_count(scratch / "screen.png"), 1u);
}

TEST(SaveTargets, ALinkToAnotherFolderIsKeptAndTheFileThereReplacedInPlace) {
    Scratch scratch;
    fs::create_directories(scratch / "here");
    fs::create_directories(scratch / "there");
    ASSERT_TRUE(writeBytes(scratch / "there" / "real.png", kEarlierBytes));
    fs::create_symlink("../there/real.png", scratch / "here" / "screen.png");
    ASSERT_TRUE(save(testCard(), scratch / "here" / "screen.png", kPngPosition));
    ASSERT_TRUE(save(testCard(), scratch / "expected.png", kPngPosition));
    EXPECT_EQ(fs::read_symlink(scratch / "here" / "screen.png"), "../there/real.png");
    EXPECT_EQ(readBytes(scratch / "there" / "real.png"), readBytes(scratch / "expected.png"));
    EXPECT_EQ(Scratch::names(scratch / "here"), std::vector<std::string>{"screen.png"});
    EXPECT_EQ(Scratch::names(scratch / "there"), std::vector<std::string>{"real.png"});
}

// A FIFO without a reader would keep a writer that opens it waiting for ever; none of these is opened.
TEST(SaveTargets, ALinkLoopAFifoASocketOrADeviceIsRefusedAndLeftAlone) {
    Scratch scratch;
    fs::create_symlink("loop-b.png", scratch / "loop-a.png");
    fs::create_symlink("loop-a.png", scratch / "loop-b.png");
    ASSERT_EQ(::mkfifo((scratch / "fifo.png").c_str(), 0666), 0);
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketName = (scratch / "socket.png").string();
    ASSERT_LT(socketName.size(), sizeof address.sun_path);
    socketName.copy(address.sun_path, socketName.size());
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    fs::create_symlink("/dev/null", scratch / "null.png");

    const std::pair<const char*, int> cases[] = {
        {"loop-a.png", ELOOP}, {"fifo.png", ENOTSUP}, {"socket.png", ENOTSUP}, {"null.png", ENOTSUP}};
    const std::vector<std::string> before = Scratch::names(scratch.path());
    for (const auto& [name, error] : cases) {
        errno = 0;
        EXPECT_FALSE(save(testCard(), scratch / name, kPngPosition)) << name;
        EXPECT_EQ(errno, error) << name;
        EXPECT_EQ(Scratch::names(scratch.path()), before) << name;
    }
    EXPECT_TRUE(fs::is_fifo(scratch / "fifo.png"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    ::close(listening);
}

TEST(SaveTargets, NamesAtTheSystemsLimitsAreSaved) {
    Scratch scratch;
    ASSERT_TRUE(save(testCard(), scratch / "expected.png", kPngPosition));
    const Bytes expected = readBytes(scratch / "expected.png");

    // The longest file name: the temporary file beside it needs a shorter one of its own.
    const std::string longest = std::string(251, 'n') + ".png";
    ASSERT_TRUE(save(testCard(), scratch / longest, kPngPosition));
    EXPECT_EQ(readBytes(scratch / longest), expected);

    // A path a few bytes short of the longest the system takes: too short for the temporary file's name
    // spelt out in full, so that is made relative to the folder.
    const auto deep = deepFile(scratch / "deep", 4090, "screen.png", kEarlierBytes);
    ASSERT_TRUE(deep);
    ASSERT_EQ(deep->native().size(), 4090u);
    ASSERT_TRUE(save(testCard(), *deep, kPngPosition));
    EXPECT_EQ(readDeep(*deep), expected);
    EXPECT_EQ(Scratch::names(deep->parent_path()), std::vector<std::string>{"screen.png"});

    // Beyond it, the name is refused by the system, and so is the save.
    const auto deeper = deepFile(scratch / "deeper", 4200, "screen.png", kEarlierBytes);
    ASSERT_TRUE(deeper);
    errno = 0;
    EXPECT_FALSE(save(testCard(), *deeper, kPngPosition));
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(readDeep(*deeper), kEarlierBytes);
}

struct stat statOf(const fs::path& name) {
    struct stat info {};
    ::stat(name.c_str(), &info);
    return info;
}

TEST(SaveTargets, RootKeepsAReplacedFilesOwnerGroupAndModeBits) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    Scratch scratch;
    const fs::path target = scratch / "screen.png";
    ASSERT_TRUE(writeBytes(target, kEarlierBytes));
    ASSERT_EQ(::chown(target.c_str(), kUnprivilegedId, kUnprivilegedId), 0);
    ASSERT_EQ(::chmod(target.c_str(), 02640), 0);
    ASSERT_TRUE(save(testCard(), target, kPngPosition));
    const struct stat info = statOf(target);
    EXPECT_EQ(info.st_uid, kUnprivilegedId);
    EXPECT_EQ(info.st_gid, kUnprivilegedId);
    EXPECT_EQ(info.st_mode & 07777, 02640u);
    EXPECT_NE(readBytes(target), kEarlierBytes);
}

TEST(SaveTargets, AGroupThatCannotBeKeptTakesTheSetIdBitsWithIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "a file in a group its owner is not in needs root to make";
    Scratch scratch;
    const fs::path folder = scratch.sharedFolder("shared");
    const fs::path target = folder / "screen.png";
    ASSERT_TRUE(writeBytes(target, kEarlierBytes));
    ASSERT_EQ(::chown(target.c_str(), kUnprivilegedId, 0), 0); // nobody's file in root's group
    ASSERT_EQ(::chmod(target.c_str(), 06664), 0);
    const Outcome saved = inChild(true, [&] { return save(testCard(), target, kPngPosition) ? 0 : 1; });
    ASSERT_EQ(saved.how, Status::Exited);
    ASSERT_EQ(saved.code, 0);
    const struct stat info = statOf(target);
    EXPECT_EQ(info.st_uid, kUnprivilegedId);
    EXPECT_EQ(info.st_gid, kUnprivilegedId) << "nobody cannot give a file to root's group";
    EXPECT_EQ(info.st_mode & 07777, 0664u);
}

// As the unprivileged user (root writes anywhere): its result is 0 for a save, or 100 + errno.
int saveAsUnprivileged(const fs::path& target) {
    const Outcome saved =
        inChild(true, [&] { return save(testCard(), target, kPngPosition) ? 0 : 100 + errno; });
    return saved.how == Status::Exited ? saved.code : -1;
}

TEST(UnprivilegedSave, AFolderThatCannotBeWrittenFailsTheSaveEvenForAWritableFile) {
    Scratch scratch;
    const fs::path folder = scratch / "locked";
    fs::create_directories(folder);
    const fs::path target = folder / "screen.png";
    ASSERT_TRUE(writeBytes(target, kEarlierBytes));
    ::chmod(target.c_str(), 0666);
    ::chmod(folder.c_str(), 0555);
    EXPECT_EQ(saveAsUnprivileged(target), 100 + EACCES);
    EXPECT_EQ(saveAsUnprivileged(folder / "new.png"), 100 + EACCES);
    EXPECT_EQ(readBytes(target), kEarlierBytes);
    EXPECT_EQ(Scratch::names(folder), std::vector<std::string>{"screen.png"});
}

TEST(UnprivilegedSave, AReadOnlyFileIsNotReplacedThoughItsFolderCouldBeWritten) {
    Scratch scratch;
    const fs::path folder = scratch.sharedFolder("shared");
    const fs::path target = folder / "screen.png";
    ASSERT_TRUE(writeBytes(target, kEarlierBytes));
    if (::geteuid() == 0) ::chown(target.c_str(), kUnprivilegedId, kUnprivilegedId);
    ::chmod(target.c_str(), 0444);
    EXPECT_EQ(saveAsUnprivileged(target), 100 + EACCES);
    EXPECT_EQ(readBytes(target), kEarlierBytes);
    EXPECT_EQ(Scratch::names(folder), std::vector<std::string>{"screen.png"});
}

} // namespace
} // namespace quillmark::reliability
