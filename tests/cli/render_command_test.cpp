// quillmark-render end to end: the built program on the sample screens, its errors and exit statuses.
#include "pictures/save_types.h"
#include "pictures/screen_file.h"
#include "teletext/renderer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quillmark {
namespace {

namespace fs = std::filesystem;

const fs::path kProgram = QUILLMARK_RENDER_PROGRAM;
const fs::path kSamples = QUILLMARK_SAMPLES;
const std::array<std::string, 3> kSampleNames = {"testcard", "text", "landscape"};
constexpr std::string_view kExtensions[] = {"bmp", "jpg", "png"};

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string line(const std::string& subject, std::string_view reason) {
    return "quillmark-render: " + subject + ": " + std::string(reason) + "\n";
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the program with its three standard streams on files, in `folder` unless another is given.
class Runner {
public:
    explicit Runner(fs::path streams) : streams_(std::move(streams)) { fs::create_directories(streams_); }

    Result run(const std::vector<std::string>& arguments, const std::string& input = {},
               const fs::path& workingFolder = {}) const {
        writeFile(streams_ / "in", input);
        const pid_t child = spawn(arguments, workingFolder, [this] {
            redirect(streams_ / "in", O_RDONLY, STDIN_FILENO);
            redirect(streams_ / "out", O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO);
            redirect(streams_ / "err", O_WRONLY | O_CREAT | O_TRUNC, STDERR_FILENO);
        });
        Result result;
        result.status = waitWithTimeout(child);
        result.out = readFile(streams_ / "out");
        result.err = readFile(streams_ / "err");
        return result;
    }

    // Forks and executes the program after `prepare` has set up the child's streams.
    template <typename Prepare>
    static pid_t spawn(const std::vector<std::string>& arguments, const fs::path& workingFolder,
                       Prepare prepare) {
        std::vector<std::string> words = {kProgram.string()};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            prepare();
            if (!workingFolder.empty() && chdir(workingFolder.c_str()) != 0) _exit(126);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return child;
    }

    // The exit status, or -1 (and a failure) if the program did not end by itself within a minute.
    static int waitWithTimeout(pid_t child) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                ADD_FAILURE() << "quillmark-render did not finish";
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    static void redirect(const fs::path& file, int flags, int stream) {
        const int descriptor = open(file.c_str(), flags, 0644);
        if (descriptor < 0 || dup2(descriptor, stream) < 0) _exit(125);
        close(descriptor);
    }

    fs::path streams_;
};

class RenderCommand : public testing::Test {
protected:
    void SetUp() override {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("quillmark-cli-") + test->name() + "-" + std::to_string(getpid());
        std::replace(name.begin(), name.end(), '/', '-');
        folder_ = fs::temp_directory_path() / name;
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "out");
    }
    void TearDown() override { fs::remove_all(folder_); }

    Result run(const std::vector<std::string>& arguments, const std::string& input = {},
               const fs::path& workingFolder = {}) const {
        return Runner(folder_ / ".streams").run(arguments, input, workingFolder);
    }

    static fs::path sample(const std::string& name) { return kSamples / (name + ".bin"); }

    // What "Save as..." writes for the screen file: the bytes of savePictureAs on the same render.
    std::string reference(const fs::path& screen, int position, int resolution = LargeGlyphs) const {
        std::vector<std::uint8_t> buffer(kScreenBufferBytes, 0);
        EXPECT_TRUE(readScreenFile(screen, buffer)) << screen;
        const std::optional<Picture> picture = renderScreen(buffer, resolution);
        EXPECT_TRUE(picture);
        const fs::path file = folder_ / ("reference." + std::string(kExtensions[position]));
        EXPECT_TRUE(picture && savePictureAs(*picture, file, position));
        std::string bytes = readFile(file);
        fs::remove(file);
        return bytes;
    }

    // Files in the output folder, by name.
    std::set<std::string> outputs() const {
        std::set<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder_ / "out"))
            names.insert(entry.path().filename().string());
        return names;
    }

    fs::path copySample(const std::string& name, const fs::path& as) const {
        fs::create_directories(as.parent_path());
        fs::copy_file(sample(name), as, fs::copy_options::overwrite_existing);
        return as;
    }

    fs::path folder_;
};

TEST_F(RenderCommand, WritesEverySampleInEachTypeAsSaveAsWould) {
    const std::array<std::string, 3> formats = {"bmp", "jpeg", "png"};
    for (int position : {kBmpPosition, kJpegPosition, kPngPosition}) {
        SCOPED_TRACE(formats[position]);
        std::vector<std::string> arguments = {"-f", formats[position], "-o", (folder_ / "out").string()};
        for (const std::string& name : kSampleNames)
            arguments.push_back(sample(name).string());
        const Result result = run(arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        for (const std::string& name : kSampleNames) {
            const fs::path picture = folder_ / "out" / (name + "." + std::string(kExtensions[position]));
            EXPECT_EQ(readFile(picture), reference(sample(name), position)) << picture;
        }
    }
}

TEST_F(RenderCommand, NoRoundingWritesTheSmallPicture) {
    const fs::path picture = folder_ / "out" / "small.bmp";
    const Result result = run({"--no-rounding", sample("testcard").string(), "-o", picture.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string bytes = readFile(picture);
    EXPECT_EQ(bytes, reference(sample("testcard"), kBmpPosition, SmallGlyphs));
    ASSERT_GE(bytes.size(), 26u);
    const auto field = [&bytes](std::size_t at) {
        return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
    };
    EXPECT_EQ(field(18), 240);
    EXPECT_EQ(field(22), 250);
}

TEST_F(RenderCommand, TakesTheTypeFromTheOutputExtensionInAnyLetterCase) {
    const std::string bmp = "BM";
    const std::string jpeg = "\xFF\xD8\xFF";
    const std::string png = "\x89PNG";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a.bmp", bmp}, {"b.BMP", bmp}, {"c.jpg", jpeg},       {"d.JPEG", jpeg}, {"e.Jpe", jpeg},
        {"f.png", png}, {"g.PNG", png}, {"no-extension", png}, {"dotted.", png},
    };
    for (const auto& [name, signature] : cases) {
        const fs::path picture = folder_ / "out" / name;
        const Result result = run({sample("text").string(), "-o", picture.string()});
        EXPECT_EQ(result.status, 0) << name << ": " << result.err;
        EXPECT_EQ(readFile(picture).substr(0, signature.size()), signature) << name;
    }

    // With --format, a name whose extension is of no picture type is taken as it stands.
    const fs::path named = folder_ / "out" / "screen.img";
    const Result result = run({"-f", "bmp", sample("text").string(), "-o", named.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile(named), reference(sample("text"), kBmpPosition));
}

TEST_F(RenderCommand, WritesBesideEachScreenAsNameDotExtensionWithoutOutput) {
    const fs::path dotted = copySample("testcard", folder_ / "screens" / "card.v2.bin");
    const fs::path bare = copySample("text", folder_ / "screens" / "page");
    const Result result = run({"-f", "jpg", dotted.string(), bare.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile(folder_ / "screens" / "card.v2.jpg"), reference(dotted, kJpegPosition));
    EXPECT_EQ(readFile(folder_ / "screens" / "page.jpg"), reference(bare, kJpegPosition));

    // A relative name puts the picture beside the screen too, not in the working folder.
    const Result relative = run({"screens/page"}, {}, folder_);
    EXPECT_EQ(relative.status, 0) << relative.err;
    EXPECT_EQ(readFile(folder_ / "screens" / "page.png"), reference(bare, kPngPosition));
}

TEST_F(RenderCommand, UsageErrorsExitWithTwoAndWriteNothing) {
    const std::string screen = copySample("testcard", folder_ / "out" / "screen.bin").string();
    const std::string out = (folder_ / "out").string();
    const std::vector<std::vector<std::string>> cases = {
        {"-f", "bmp", "-o", out + "/x.png", screen}, // type and extension disagree
        {"-o", out + "/x.gif", screen},              // an extension of another type
        {"-o", out + "/x.data", screen},             // an extension of no picture type, and no --format
        {"-o", out + "/x.png", screen, screen},      // one output file, two screens
        {"-o", "-", screen, screen},                 // standard output, two screens
        {"-o", out, "-"},                            // standard input has no name for the folder
        {"-", "-"},                                  // standard input twice
        {"-o", "", screen},                          // an empty output path
        {"-o", out + "/missing/", screen},           // a folder that does not exist
        {"-f", "gif", screen},                       // an unknown type
        {"--jobs", "0", screen},
        {"--no-such-option", screen},
        {}, // no screen
    };
    for (const std::vector<std::string>& arguments : cases) {
        std::string shown;
        for (const std::string& argument : arguments)
            shown += argument + " ";
        const Result result = run(arguments, readFile(screen));
        EXPECT_EQ(result.status, 2) << shown;
        EXPECT_EQ(result.err.rfind("quillmark-render: ", 0), 0u) << shown << result.err;
        EXPECT_EQ(result.out, "") << shown;
        EXPECT_EQ(outputs(), std::set<std::string>{"screen.bin"}) << shown;
    }
}

TEST_F(RenderCommand, ReportsEachFailedScreenInOrderAndConvertsTheRest) {
    // The first screen fails only after rendering, when its picture's name turns out to be a folder: the
    // quick failures after it must still be reported after it.
    const fs::path slow = copySample("landscape", folder_ / "screens" / "slow.bin");
    fs::create_directory(folder_ / "out" / "slow.png");
    const fs::path first = copySample("testcard", folder_ / "screens" / "first.bin");
    const fs::path last = copySample("text", folder_ / "screens" / "last.bin");
    const fs::path missing = folder_ / "screens" / "missing.bin";
    const fs::path empty = folder_ / "screens" / "empty.bin";
    writeFile(empty, "");
    const fs::path folder = folder_ / "screens" / "folder.bin";
    fs::create_directory(folder);
    const fs::path fifo = folder_ / "screens" / "fifo.bin";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    const Result result =
        run({"-j", "4", "-o", (folder_ / "out").string(), slow.string(), first.string(), missing.string(),
             folder.string(), empty.string(), fifo.string(), last.string()});
    EXPECT_EQ(result.status, 1);
    const std::string cannotWrite =
        "quillmark-render: " + (folder_ / "out" / "slow.png").string() + ": cannot write";
    ASSERT_EQ(result.err.rfind(cannotWrite, 0), 0u) << result.err;
    EXPECT_EQ(result.err.substr(result.err.find('\n') + 1),
              line(missing.string(), describe(ScreenReadError::NoSuchFile)) +
                  line(folder.string(), describe(ScreenReadError::IsFolder)) +
                  line(empty.string(), describe(ScreenReadError::Empty)) +
                  line(fifo.string(), describe(ScreenReadError::NotRegularFile)));
    EXPECT_EQ(outputs(), (std::set<std::string>{"slow.png", "first.png", "last.png"}));
    EXPECT_TRUE(fs::is_directory(folder_ / "out" / "slow.png"));
    EXPECT_EQ(readFile(folder_ / "out" / "first.png"), reference(first, kPngPosition));
    EXPECT_EQ(readFile(folder_ / "out" / "last.png"), reference(last, kPngPosition));
}

TEST_F(RenderCommand, ReportsAPictureThatCannotBeWritten) {
    const fs::path picture = folder_ / "no-such-folder" / "card.png";
    const Result result = run({sample("testcard").string(), "-o", picture.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("quillmark-render: " + picture.string() + ": cannot write", 0), 0u)
        << result.err;
    EXPECT_FALSE(fs::exists(picture.parent_path()));
}

TEST_F(RenderCommand, RefusesToReplaceAScreenWithItsOwnPicture) {
    const fs::path screen = copySample("testcard", folder_ / "out" / "card.png");
    const Result result = run({screen.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("quillmark-render: " + screen.string() + ": ", 0), 0u) << result.err;
    EXPECT_EQ(readFile(screen), readFile(sample("testcard")));
}

TEST_F(RenderCommand, ReadsStandardInputAndWritesStandardOutput) {
    const std::string screen = readFile(sample("landscape"));
    const Result pngOut = run({"-", "-o", "-"}, screen);
    EXPECT_EQ(pngOut.status, 0) << pngOut.err;
    EXPECT_EQ(pngOut.out, reference(sample("landscape"), kPngPosition));

    const Result bmpOut = run({"-f", "bmp", "--no-rounding", "-"}, screen);
    EXPECT_EQ(bmpOut.status, 0) << bmpOut.err;
    EXPECT_EQ(bmpOut.out, reference(sample("landscape"), kBmpPosition, SmallGlyphs));

    const fs::path picture = folder_ / "out" / "from-input.jpg";
    const Result toFile = run({"-", "-o", picture.string()}, screen);
    EXPECT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(readFile(picture), reference(sample("landscape"), kJpegPosition));

    const Result fileToOut = run({"-o", "-", sample("text").string()});
    EXPECT_EQ(fileToOut.status, 0) << fileToOut.err;
    EXPECT_EQ(fileToOut.out, reference(sample("text"), kPngPosition));

    const Result nothing = run({"-", "-o", "-"}, "");
    EXPECT_EQ(nothing.status, 1);
    EXPECT_EQ(nothing.out, "");
    EXPECT_EQ(nothing.err, line("standard input", describe(ScreenReadError::Empty)));
}

TEST_F(RenderCommand, PrintsHelpAndVersionAndExitsWithZero) {
    for (const char* flag : {"-h", "--help"}) {
        const Result help = run({flag});
        EXPECT_EQ(help.status, 0) << flag;
        EXPECT_NE(help.out.find("Usage: quillmark-render"), std::string::npos) << help.out;
        for (const char* option : {"--output", "--format", "--no-rounding", "--jobs", "--version"})
            EXPECT_NE(help.out.find(option), std::string::npos) << option;
        EXPECT_EQ(help.err, "");
    }
    const Result version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillmark-render " QUILLMARK_VERSION "\n");
}

TEST_F(RenderCommand, ManyWorkersWriteTheSameFilesAndMessagesAsOne) {
    // Screens that differ from each other, with failures among them.
    std::vector<std::string> screens;
    const std::string base = readFile(sample("testcard"));
    for (int index = 0; index < 16; ++index) {
        const fs::path screen = folder_ / "screens" / ("screen-" + std::to_string(index) + ".bin");
        if (index % 5 == 3) {
            screens.push_back(screen.string()); // missing
            continue;
        }
        std::string bytes = base;
        bytes[static_cast<std::size_t>(index) * 41] = static_cast<char>(AlphaRed + index % 7);
        fs::create_directories(screen.parent_path());
        writeFile(screen, bytes);
        screens.push_back(screen.string());
    }

    const auto convert = [&](const std::string& jobs, const fs::path& out) {
        fs::create_directories(out);
        std::vector<std::string> arguments = {"--no-rounding", "-f", "bmp", "-j", jobs, "-o", out.string()};
        arguments.insert(arguments.end(), screens.begin(), screens.end());
        return run(arguments);
    };
    const Result one = convert("1", folder_ / "one");
    const Result many = convert("4", folder_ / "many");
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(many.status, one.status);
    EXPECT_EQ(many.err, one.err);
    EXPECT_EQ(std::count(one.err.begin(), one.err.end(), '\n'), 3);

    std::size_t compared = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_ / "one")) {
        EXPECT_EQ(readFile(folder_ / "many" / entry.path().filename()), readFile(entry.path()))
            << entry.path().filename();
        ++compared;
    }
    EXPECT_EQ(compared, 13u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "many"), fs::directory_iterator()), 13);
}

TEST_F(RenderCommand, LaterScreenWinsWhenTwoScreensShareAPicture) {
    const fs::path earlier = copySample("testcard", folder_ / "a" / "card.bin");
    const fs::path later = copySample("text", folder_ / "b" / "card.bin");
    const std::string out = (folder_ / "out").string();
    const Result both = run({"-j", "2", "-f", "bmp", "-o", out, earlier.string(), later.string()});
    EXPECT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(readFile(folder_ / "out" / "card.bmp"), reference(later, kBmpPosition));

    // A later screen that fails leaves the earlier one's picture.
    writeFile(later, "");
    fs::remove(folder_ / "out" / "card.bmp");
    const Result failed = run({"-j", "2", "-f", "bmp", "-o", out, earlier.string(), later.string()});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(readFile(folder_ / "out" / "card.bmp"), reference(earlier, kBmpPosition));
}

TEST_F(RenderCommand, ProgressOnATerminalNeverRunsIntoErrorLines) {
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0)
        GTEST_SKIP() << "no pseudo-terminal here";
    const std::string terminalName = ptsname(terminal);
    const fs::path missing = folder_ / "missing.bin";
    const pid_t child =
        Runner::spawn({"--no-rounding", "-f", "bmp", "-o", (folder_ / "out").string(),
                       sample("testcard").string(), missing.string(), sample("text").string()},
                      {}, [&terminalName] {
                          const int errors = open(terminalName.c_str(), O_WRONLY | O_NOCTTY);
                          if (errors < 0 || dup2(errors, STDERR_FILENO) < 0) _exit(125);
                      });

    // Read until the program's end closes the terminal's other side.
    std::string shown;
    std::array<char, 4096> chunk;
    for (ssize_t got; (got = read(terminal, chunk.data(), chunk.size())) > 0;)
        shown.append(chunk.data(), static_cast<std::size_t>(got));
    close(terminal);
    EXPECT_EQ(Runner::waitWithTimeout(child), 1);

    const std::string clear = "\r\033[K";
    const std::string error = "quillmark-render: " + missing.string() + ": " +
                              describe(ScreenReadError::NoSuchFile) + "\r\n"; // the terminal adds the \r
    const std::size_t at = shown.find(error);
    ASSERT_NE(at, std::string::npos) << shown;
    ASSERT_GE(at, clear.size()) << shown;
    EXPECT_EQ(shown.substr(at - clear.size(), clear.size()), clear) << "progress line left before the error";
    EXPECT_NE(shown.find("[3/3] "), std::string::npos) << shown;
    EXPECT_TRUE(shown.ends_with(clear)) << "progress line left at the end";
}

} // namespace
} // namespace quillmark
