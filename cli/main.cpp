// quillmark-render: Mode 7 screen files into BMP, JPEG or PNG pictures, the same bytes the desktop program's
// "Save as..." writes.
#include "cli/ordered_run.h"
#include "pictures/picture_writers.h"
#include "pictures/save_types.h"
#include "pictures/screen_file.h"
#include "teletext/renderer.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <sched.h>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quillmark {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kProgram = "quillmark-render";
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr std::string_view kStandardStream = "-";

struct Options {
    std::vector<std::string> screens;
    std::string output;
    std::string format;
    bool noRounding = false;
    int jobs = 1;
};

// One screen and where its picture goes, with what the run learns about it.
struct Job {
    std::string screen; // as given; "-" for standard input
    fs::path output;    // empty for standard output
    int position = kPngPosition;
    std::string refusal;                   // known before the run: the reason the screen is not converted
    std::optional<std::size_t> readAfter;  // the last earlier job writing the file this one reads
    std::optional<std::size_t> writeAfter; // the last earlier job writing the same file as this one
    std::string message;
    bool failed = false;
};

struct Plan {
    std::vector<Job> jobs;
    std::string usageError;
};

// A control character in the subject shows as '?': a file name with a line break keeps its message one line.
std::string messageLine(std::string_view subject, std::string_view reason) {
    std::string line(kProgram);
    line.append(": ");
    for (const char c : subject)
        line.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
    line.append(": ").append(reason).append("\n");
    return line;
}

std::string screenLabel(const std::string& screen) {
    return screen == kStandardStream ? "standard input" : screen;
}

int coreCount() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) > 0) return CPU_COUNT(&cores);
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

std::string upperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The extension of a file name without its dot; empty when it has none.
std::string extensionOf(const fs::path& file) {
    std::string extension = file.extension().string();
    return extension.empty() ? extension : extension.substr(1);
}

// The save position whose type accepts the extension, in any letter case.
std::optional<int> positionOfExtension(const std::string& extension) {
    const std::string upper = upperCase(extension);
    for (int position = 0; position < static_cast<int>(kSaveTypes.size()); ++position) {
        for (std::string_view accepted : kSaveTypes[static_cast<std::size_t>(position)].accepted) {
            if (!accepted.empty() && accepted == upper) return position;
        }
    }
    return std::nullopt;
}

// The save position of a --format value; the parser lets only bmp, jpeg, jpg and png through, in any case.
std::optional<int> positionOfFormat(const std::string& format) {
    const std::string upper = upperCase(format);
    if (upper.empty()) return std::nullopt;
    if (upper == "BMP") return kBmpPosition;
    if (upper == "PNG") return kPngPosition;
    return kJpegPosition;
}

std::string_view typeName(int position) {
    static constexpr std::array<std::string_view, 3> names = {"bmp", "jpeg", "png"};
    return names[static_cast<std::size_t>(position)];
}

// NAME.EXT for a picture written beside its screen or into a folder.
fs::path pictureName(const std::string& screen, int position) {
    static constexpr std::array<std::string_view, 3> extensions = {".bmp", ".jpg", ".png"};
    return fs::path(screen).stem().concat(extensions[static_cast<std::size_t>(position)]);
}

// A file's name with symbolic links and dots resolved as far as it exists, so that two spellings of one
// file compare equal.
std::string fileKey(const fs::path& file) {
    std::error_code error;
    fs::path key = fs::weakly_canonical(file, error);
    if (error) key = fs::absolute(file, error).lexically_normal();
    if (error) key = file.lexically_normal();
    return key.string();
}

Plan planJobs(const Options& options) {
    Plan plan;
    const auto usage = [&plan](std::string message) {
        plan.usageError = std::move(message);
        plan.jobs.clear();
        return plan;
    };

    if (std::count(options.screens.begin(), options.screens.end(), kStandardStream) > 1)
        return usage("standard input ('-') can be read only once");

    const std::optional<int> format = positionOfFormat(options.format);
    const int chosen = format.value_or(kPngPosition);
    std::error_code error;
    const bool intoFolder = !options.output.empty() && options.output != kStandardStream &&
                            fs::is_directory(options.output, error);

    if (options.output == kStandardStream && options.screens.size() != 1)
        return usage("-o - writes one picture to standard output, so it takes exactly one SCREEN");
    if (!options.output.empty() && !intoFolder && options.screens.size() != 1)
        return usage(options.output + ": no such folder, and one picture file takes exactly one SCREEN");

    for (const std::string& screen : options.screens) {
        Job job;
        job.screen = screen;
        job.position = chosen;
        if (intoFolder) {
            if (screen == kStandardStream)
                return usage("standard input has no name to write into a folder: give -o FILE or -o -");
            job.output = fs::path(options.output) / pictureName(screen, chosen);
        } else if (options.output == kStandardStream ||
                   (options.output.empty() && screen == kStandardStream)) {
            // The empty output path means standard output.
        } else if (!options.output.empty()) {
            const fs::path file(options.output);
            if (!file.has_filename()) return usage(options.output + ": no such folder");
            const std::string extension = extensionOf(file);
            const std::optional<int> named = positionOfExtension(extension);
            // An extension of no picture type says nothing of the type: with --format it is the user's own
            // choice of name, without it there is nothing to go by but a name that promises another type.
            if (!extension.empty() && !named && !format)
                return usage(options.output + ": '." + extension +
                             "' is not an extension of a bmp, jpeg or png picture");
            if (format && named && named != format)
                return usage(options.output + ": '." + extension + "' does not name a " +
                             std::string(typeName(*format)) + " picture");
            job.position = format.value_or(named.value_or(kPngPosition));
            job.output = file;
        } else {
            job.output = fs::path(screen).parent_path() / pictureName(screen, chosen);
        }
        plan.jobs.push_back(std::move(job));
    }

    // Files written by earlier jobs must be read and replaced as a one-at-a-time run would.
    std::map<std::string, std::size_t> lastWriter;
    for (std::size_t index = 0; index < plan.jobs.size(); ++index) {
        Job& job = plan.jobs[index];
        std::string screenKey;
        if (job.screen != kStandardStream) {
            screenKey = fileKey(job.screen);
            if (const auto writer = lastWriter.find(screenKey); writer != lastWriter.end())
                job.readAfter = writer->second;
        }
        if (job.output.empty()) continue;
        const std::string outputKey = fileKey(job.output);
        if (outputKey == screenKey) job.refusal = "its picture would be written over the screen file itself";
        if (const auto writer = lastWriter.find(outputKey); writer != lastWriter.end())
            job.writeAfter = writer->second;
        lastWriter[outputKey] = index;
    }
    return plan;
}

// Reads, renders and writes one screen, leaving a message in the job when something fails.
void convert(Job& job, int resolution, OrderedRun& run) {
    const auto fail = [&job](std::string_view subject, std::string_view reason) {
        job.failed = true;
        job.message = messageLine(subject, reason);
    };
    if (!job.refusal.empty()) return fail(job.screen, job.refusal);
    if (job.readAfter) run.waitFor(*job.readAfter);

    std::array<std::uint8_t, kScreenBufferBytes> buffer{};
    const ScreenRead read =
        job.screen == kStandardStream ? readScreenStream(stdin, buffer) : readScreenFile(job.screen, buffer);
    if (!read) return fail(screenLabel(job.screen), describe(read.error));

    const std::optional<Picture> picture = renderScreen(buffer, resolution);
    if (!picture) return fail(screenLabel(job.screen), "cannot render (out of memory)");

    if (job.writeAfter) run.waitFor(*job.writeAfter);
    if (job.output.empty()) {
        const SaveType& type = kSaveTypes[static_cast<std::size_t>(job.position)];
        if (!writePicture(*picture, stdout, type.formatCode, type.qualityLevel, type.depth) ||
            std::fflush(stdout) != 0)
            fail("standard output", "cannot write");
        return;
    }
    errno = 0;
    if (!savePictureAs(*picture, job.output, job.position)) {
        const int cause = errno;
        std::string reason = "cannot write";
        if (cause != 0) reason.append(" (").append(std::strerror(cause)).append(")");
        fail(job.output.string(), reason);
    }
}

// "[n/N] name" on the last line of a terminal, redrawn in place and taken away before any other line.
class ProgressLine {
public:
    ProgressLine(bool shown, std::size_t total) : shown_(shown), total_(total) {}

    void show(std::size_t done, std::string_view name) {
        if (!shown_) return;
        std::string line = "[" + std::to_string(done) + "/" + std::to_string(total_) + "] ";
        for (const char c : name)
            line.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
        fitToTerminal(line);
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        drawn_ = true;
    }

    void clear() {
        if (drawn_) std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }

private:
    // A line that wraps could no longer be taken back with a carriage return.
    static void fitToTerminal(std::string& line) {
        winsize size{};
        if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col < 2) return;
        std::size_t length = std::min<std::size_t>(line.size(), size.ws_col - 1u);
        while (length > 0 && length < line.size() &&
               (static_cast<unsigned char>(line[length]) & 0xC0) == 0x80)
            --length; // not inside a UTF-8 sequence
        line.resize(length);
    }

    bool shown_;
    bool drawn_ = false;
    std::size_t total_;
};

// GNU order: the usage line first, then what the program does.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
        return make_usage(app, std::move(name)) + "\n" + make_description(app) + make_positionals(app) +
               make_groups(app, mode) + "\n" + make_footer(app);
    }
};

int usageFailure(std::string_view message) {
    std::fprintf(stderr, "%.*s: %.*s\nTry '%.*s --help' for more information.\n",
                 static_cast<int>(kProgram.size()), kProgram.data(), static_cast<int>(message.size()),
                 message.data(), static_cast<int>(kProgram.size()), kProgram.data());
    return kExitUsage;
}

int run(int argc, char** argv) {
    const std::string program(kProgram);
    CLI::App app("Renders Mode 7 teletext screen files into BMP, JPEG or PNG pictures.", program);
    app.formatter(std::make_shared<HelpFormatter>());
    app.get_formatter()->column_width(24);
    Options options;
    options.jobs = coreCount();
    app.set_version_flag("--version", program + " " + QUILLMARK_VERSION, "Print the version and exit");
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.add_option("-o,--output", options.output,
                   "Picture file, or a folder for NAME.EXT; - for standard output")
        ->type_name("PATH");
    app.add_option("-f,--format", options.format, "bmp, jpeg (or jpg) or png")
        ->type_name("TYPE")
        ->check(CLI::IsMember({"bmp", "jpeg", "jpg", "png"}, CLI::ignore_case).description(""));
    app.add_flag("--no-rounding", options.noRounding, "Small glyphs: 240 x 250 pictures, not 480 x 500");
    app.add_option("-j,--jobs", options.jobs,
                   "Screens converted at once (default: one per core, here " + std::to_string(options.jobs) +
                       ")")
        ->type_name("N")
        ->check(CLI::Range(1, 1024).description(""));
    app.add_option("SCREEN", options.screens, "Mode 7 screen file; - for standard input")
        ->type_name("")
        ->required();
    app.footer("Each picture holds the same bytes as the desktop program's \"Save as...\" writes for the\n"
               "screen. Without -o, each picture is written beside its screen as NAME.EXT: NAME is the\n"
               "screen's file name without its extension, EXT is bmp, jpg or png. A screen read from\n"
               "standard input is written to standard output. Without --format, the type comes from the\n"
               "extension of the output file (.bmp; .jpg, .jpeg, .jpe; .png; any case), else png.\n\n"
               "Exit status: 0 when every screen was converted; 1 when any failed (the others are still\n"
               "converted); 2 for a usage error.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        return usageFailure(error.what());
    }
    if (app.count("--output") > 0 && options.output.empty()) return usageFailure("the output path is empty");

    Plan plan = planJobs(options);
    if (!plan.usageError.empty()) return usageFailure(plan.usageError);

    const int resolution = options.noRounding ? SmallGlyphs : LargeGlyphs;
    std::vector<Job>& jobs = plan.jobs;
    ProgressLine progress(jobs.size() > 1 && isatty(STDERR_FILENO) != 0, jobs.size());
    bool anyFailed = false;
    OrderedRun ordered(jobs.size());
    ordered.run(
        options.jobs,
        [&](std::size_t index) {
            Job& job = jobs[index];
            try {
                convert(job, resolution, ordered);
            } catch (const std::bad_alloc&) {
                job.failed = true;
                job.message = messageLine(screenLabel(job.screen), "out of memory");
            } catch (const std::exception& error) {
                job.failed = true;
                job.message = messageLine(screenLabel(job.screen), error.what());
            }
            // Not done before every earlier job writing the same file is, even when this one failed early:
            // later jobs wait for this one alone.
            if (job.writeAfter) ordered.waitFor(*job.writeAfter);
        },
        [&](std::size_t index) {
            const Job& job = jobs[index];
            if (job.failed) {
                progress.clear();
                std::fputs(job.message.c_str(), stderr);
                anyFailed = true;
            }
            progress.show(index + 1, screenLabel(job.screen));
        });
    progress.clear();
    return anyFailed ? kExitFailure : kExitSuccess;
}

} // namespace
} // namespace quillmark

int main(int argc, char** argv) {
    try {
        return quillmark::run(argc, argv);
    } catch (const std::exception& error) { // out of memory while planning, say
        std::fprintf(stderr, "quillmark-render: %s\n", error.what());
        return 1;
    }
}
