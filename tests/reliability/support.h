// What the reliability tests share: scratch folders that other users can reach, running a program under a
// timeout (as another user when asked), a small tmpfs, folders nested deeper than the longest path, and a
// watch on open descriptors.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quillmark::reliability {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// The user that root's tests act as: nobody.
inline constexpr uid_t kUnprivilegedId = 65534;

inline Bytes readBytes(const fs::path& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool writeBytes(const fs::path& name, const Bytes& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

inline std::size_t openDescriptors() {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

// Removes a folder's contents however deep they go: everything is reached through descriptors, so paths
// longer than the system takes and folders without permissions are no obstacle.
inline void removeInside(int folder) {
    const int listing = ::dup(folder);
    DIR* entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!entries) {
        if (listing >= 0) ::close(listing);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(entries)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(entries);
    for (const std::string& name : names) {
        struct stat info {};
        if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            ::fchmodat(folder, name.c_str(), 0700, 0);
            const int inner = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inner >= 0) {
                removeInside(inner);
                ::close(inner);
            }
            ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
        } else {
            ::unlinkat(folder, name.c_str(), 0);
        }
    }
}

// A fresh folder under the system's temporary folder, open to every user to look into, removed with
// everything in it afterwards.
class Scratch {
public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "quillmark-reliability-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return;
        path_ = pattern;
        ::chmod(path_.c_str(), 0755);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        if (path_.empty()) return;
        const int folder = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            removeInside(folder);
            ::close(folder);
        }
        ::rmdir(path_.c_str());
    }

    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

    // A folder inside that the unprivileged user owns, so that it may write there.
    fs::path sharedFolder(const std::string& name) const {
        const fs::path folder = path_ / name;
        fs::create_directories(folder);
        if (::geteuid() == 0) ::chown(folder.c_str(), kUnprivilegedId, kUnprivilegedId);
        return folder;
    }

    // The names directly inside a folder, sorted.
    static std::vector<std::string> names(const fs::path& folder) {
        std::vector<std::string> result;
        for (const auto& entry : fs::directory_iterator(folder))
            result.push_back(entry.path().filename().string());
        std::sort(result.begin(), result.end());
        return result;
    }

private:
    fs::path path_;
};

// Folders nested under `base` until the path of a file named `file` in the deepest one is at least
// `length` bytes long, made through descriptors so that it may exceed the longest path the system takes.
// Gives that file's path, which is written with `bytes`, or nothing when the folders cannot be made.
inline std::optional<fs::path> deepFile(const fs::path& base, std::size_t length, const std::string& file,
                                        const Bytes& bytes) {
    std::error_code ignored;
    fs::create_directories(base, ignored);
    int folder = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    fs::path path = base;
    int level = 0;
    while (folder >= 0 && (path / file).native().size() < length) {
        const std::size_t missing = length - (path / file).native().size();
        // Whole components of 200 letters, the last one cut to land on the length exactly.
        const std::size_t size = std::clamp<std::size_t>(missing - 1, 1, 200);
        std::string name(size, 'd');
        name[0] = static_cast<char>('a' + level++ % 26);
        if (::mkdirat(folder, name.c_str(), 0755) != 0) break;
        const int inner = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = inner;
        path /= name;
    }
    if (folder < 0) return std::nullopt;
    const int out = ::openat(folder, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::close(folder);
    if (out < 0) return std::nullopt;
    const bool written = ::write(out, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(out);
    return written ? std::optional(path / file) : std::nullopt;
}

// Reads a file found through descriptors, for paths the system will not take whole.
inline std::optional<Bytes> readDeep(const fs::path& file) {
    int folder = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const fs::path& part : file.parent_path().relative_path()) {
        const int inner = ::openat(folder, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        if ((folder = inner) < 0) return std::nullopt;
    }
    const int in = ::openat(folder, file.filename().c_str(), O_RDONLY | O_CLOEXEC);
    ::close(folder);
    if (in < 0) return std::nullopt;
    Bytes bytes;
    std::uint8_t block[4096];
    ssize_t got = 0;
    while ((got = ::read(in, block, sizeof block)) > 0)
        bytes.insert(bytes.end(), block, block + got);
    ::close(in);
    return bytes;
}

// A tmpfs of a few pages mounted on a fresh folder, unmounted again however the test ends. Needs root, and a
// system that lets root mount.
class SmallDisk {
public:
    SmallDisk(const fs::path& at, const std::string& options) : path_(at) {
        fs::create_directories(path_);
        if (::geteuid() != 0) {
            why_ = "mounting a small tmpfs needs root";
            return;
        }
        if (::mount("quillmark-test", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            why_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    ~SmallDisk() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }

    bool mounted() const { return mounted_; }
    const std::string& whyNot() const { return why_; }
    const fs::path& path() const { return path_; }

    // Fills the disk to the last block but for `spare` bytes, which a later write finds.
    bool fillLeaving(std::size_t spare) const {
        const Bytes gap(spare, 0x5A);
        if (!writeBytes(path_ / ".gap", gap)) return false;
        const int filler =
            ::open((path_ / ".filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (filler < 0) return false;
        const Bytes block(4096, 0xA5);
        while (::write(filler, block.data(), block.size()) > 0) {
        }
        const bool full = errno == ENOSPC;
        ::close(filler);
        return full && ::unlink((path_ / ".gap").c_str()) == 0;
    }

private:
    fs::path path_;
    bool mounted_ = false;
    std::string why_;
};

// Takes on the unprivileged user's identity for good; for a child process only.
// A socket bound to the name, or -1; the caller closes it.
inline int bindSocket(const fs::path& name) {
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    name.native().copy(address.sun_path, sizeof address.sun_path - 1);
    ::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return listening;
}

inline bool becomeUnprivileged() {
    if (::geteuid() != 0) return true;
    return ::setgroups(0, nullptr) == 0 &&
           ::setresgid(kUnprivilegedId, kUnprivilegedId, kUnprivilegedId) == 0 &&
           ::setresuid(kUnprivilegedId, kUnprivilegedId, kUnprivilegedId) == 0;
}

enum class Status { Exited, Signalled, TimedOut, NotStarted };

inline std::ostream& operator<<(std::ostream& out, Status status) {
    constexpr const char* names[] = {"exited", "killed by a signal", "timed out and killed", "not started"};
    return out << names[static_cast<int>(status)];
}

struct Outcome {
    Status how = Status::NotStarted;
    int code = -1; // the exit status, or the signal
};

// Waits for a child, killing it once the timeout has passed.
inline Outcome waitFor(pid_t child, std::chrono::milliseconds timeout) {
    if (child < 0) return {};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return {Status::TimedOut, -1};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFSIGNALED(status)) return {Status::Signalled, WTERMSIG(status)};
    return {Status::Exited, WEXITSTATUS(status)};
}

// Runs `action` in a child process, as the unprivileged user when asked; its result is the child's exit
// status. Nothing the child does reaches this process's memory, so the caller checks the files afterwards.
template <typename Action>
Outcome inChild(bool unprivileged, Action action,
                std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (unprivileged && !becomeUnprivileged()) ::_exit(126);
        ::_exit(action());
    }
    return waitFor(child, timeout);
}

struct Result {
    Outcome outcome;
    std::string out;
    std::string err;
};

inline std::string drain(int fd) {
    std::string text;
    ::lseek(fd, 0, SEEK_SET);
    char block[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, block, sizeof block)) > 0)
        text.append(block, static_cast<std::size_t>(got));
    ::close(fd);
    return text;
}

// Runs a program with the given arguments, standard input empty, its output kept; as the unprivileged user
// when asked, with `environment` (NAME=value) added to this process's. Killed after the timeout.
inline Result runProgram(const fs::path& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment = {}, bool unprivileged = false,
                         const fs::path& workingFolder = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::vector<std::string> words = {program.string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = environment;
    for (char** variable = environ; *variable; ++variable)
        variables.emplace_back(*variable);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    const int out = ::memfd_create("out", 0);
    const int err = ::memfd_create("err", 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const int nothing = ::open("/dev/null", O_RDONLY);
        if (nothing < 0 || ::dup2(nothing, STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0 ||
            ::dup2(err, STDERR_FILENO) < 0)
            ::_exit(125);
        if (unprivileged && !becomeUnprivileged()) ::_exit(126);
        if (!workingFolder.empty() && ::chdir(workingFolder.c_str()) != 0) ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    Result run;
    run.outcome = waitFor(child, timeout);
    run.out = drain(out);
    run.err = drain(err);
    return run;
}

} // namespace quillmark::reliability
