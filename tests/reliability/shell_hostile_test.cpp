// The desktop program's import and save roads, through the main window as the user reaches them (the open
// dialog, a drop on the picture view, the save dialog), given files and names that are not the plain files
// they expect. Whatever comes, nothing changes, nothing is shown, and nothing waits for ever.
#include "pictures/screen_file.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/picture_view.h"
#include "support.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <condition_variable>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <numeric>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>

namespace quillmark::reliability {
namespace {

const fs::path kSamples = QUILLMARK_SAMPLES;

Bytes sample(const char* name) {
    return readBytes(kSamples / name);
}

QString nameOf(const fs::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

// Answers the open and save dialogs with prepared answers and counts About boxes.
class AnsweredDialogs : public Dialogs {
public:
    QString openAnswer;
    SaveChoice saveAnswer;
    int abouts = 0;

    QString openScreenFile(QWidget*) override { return openAnswer; }
    SaveChoice saveImage(QWidget*) override { return saveAnswer; }
    void about(QWidget*, const QString&) override { ++abouts; }
};

// Ends the process with a message when a step has not finished in time, so that a hang names its case
// instead of running into the suite's timeout.
class Watchdog {
public:
    explicit Watchdog(std::string what) : what_(std::move(what)), thread_([this] { watch(); }) {}
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        finished_.notify_one();
        thread_.join();
    }

private:
    void watch() {
        std::unique_lock lock(mutex_);
        if (finished_.wait_for(lock, std::chrono::seconds(30), [this] { return done_; })) return;
        std::fprintf(stderr, "hung: %s\n", what_.c_str());
        std::_Exit(3);
    }

    std::string what_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    std::thread thread_;
};

// Every window that shows up while it lives, a modal one (a message box, say) closed again so that it
// cannot hold the test.
class WindowSpy {
public:
    WindowSpy() : before_(visibleWindows()) {
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                shown_.append(modal->windowTitle().isEmpty() ? modal->metaObject()->className()
                                                             : modal->windowTitle());
                modal->close();
            }
        });
        poll_.start(5);
    }

    // The titles of windows that appeared: should be none.
    QStringList shown() {
        QCoreApplication::processEvents();
        QStringList all = shown_;
        for (QWidget* window : visibleWindows()) {
            if (!before_.contains(window)) all.append(window->windowTitle());
        }
        return all;
    }

private:
    static QList<QWidget*> visibleWindows() {
        QList<QWidget*> windows;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible()) windows.append(widget);
        }
        return windows;
    }

    QList<QWidget*> before_;
    QStringList shown_;
    QTimer poll_;
};

// The swap library, linked into this program, changes a file when it is opened; see swap_on_open.cpp.
class Swap {
public:
    Swap(const fs::path& name, const std::string& action, const fs::path& log, const fs::path& with = {},
         const std::string& length = {}) {
        ::setenv("QUILLMARK_SWAP_ACTION", action.c_str(), 1);
        ::setenv("QUILLMARK_SWAP_WITH", with.c_str(), 1);
        ::setenv("QUILLMARK_SWAP_LENGTH", length.c_str(), 1);
        ::setenv("QUILLMARK_READ_LOG", log.c_str(), 1);
        ::setenv("QUILLMARK_SWAP_PATH", name.c_str(), 1);
    }
    Swap(const Swap&) = delete;
    Swap& operator=(const Swap&) = delete;
    ~Swap() {
        for (const char* name : {"QUILLMARK_SWAP_PATH", "QUILLMARK_SWAP_ACTION", "QUILLMARK_SWAP_WITH",
                                 "QUILLMARK_SWAP_LENGTH", "QUILLMARK_READ_LOG"})
            ::unsetenv(name);
    }
};

long long bytesRead(const fs::path& log) {
    const Bytes text = readBytes(log);
    std::istringstream lines(std::string(text.begin(), text.end()));
    long long total = 0;
    for (long long got = 0; lines >> got;)
        total += got;
    return total;
}

enum class Road { Dialog, Drop };

class ShellHostile : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = std::make_unique<MainWindow>(dialogs_);
        window_->show();
        ASSERT_TRUE(writeBytes(scratch_ / "card.bin", sample("testcard.bin")));
        ASSERT_TRUE(window_->importScreenFile(nameOf(scratch_ / "card.bin")));
    }

    PictureView* view() const { return window_->findChild<PictureView*>(); }

    QAction* action(const QString& text) const {
        for (QAction* found : window_->findChildren<QAction*>()) {
            if (found->text() == text) return found;
        }
        return nullptr;
    }

    // Imports the name by the road, as the user would.
    void import(const QString& name, Road road) {
        if (road == Road::Dialog) {
            dialogs_.openAnswer = name;
            action("Import...")->trigger();
            return;
        }
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(name)});
        const QPoint centre = view()->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view(), &enter);
        QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view(), &drop);
    }

    void save(const QString& name) {
        dialogs_.saveAnswer = {name, kPngSavePosition};
        action("Save as...")->trigger();
    }

    struct State {
        std::vector<std::uint8_t> screen;
        QImage shown;
        bool rounding;
        QString title;
        bool operator==(const State&) const = default;
    };
    State state() const {
        return {{window_->screen().begin(), window_->screen().end()},
                view()->image(),
                window_->rounding(),
                window_->windowTitle()};
    }

    // Runs the step and checks that it changed nothing and showed nothing.
    template <typename Step> void expectNothingChanges(const std::string& what, Step step) {
        SCOPED_TRACE(what);
        const State before = state();
        WindowSpy spy;
        {
            Watchdog watchdog(what);
            step();
        }
        EXPECT_EQ(spy.shown(), QStringList{});
        EXPECT_TRUE(state() == before) << "the window changed";
        EXPECT_EQ(dialogs_.abouts, 0);
    }

    static constexpr int kPngSavePosition = 2;
    Scratch scratch_;
    AnsweredDialogs dialogs_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(ShellHostile, SpecialFilesAndBrokenNamesChangeNothingAndShowNothing) {
    ASSERT_EQ(::mkfifo((scratch_ / "fifo.bin").c_str(), 0644), 0);
    const int listening = bindSocket(scratch_ / "socket.bin");
    fs::create_directories(scratch_ / "folder.bin");
    fs::create_symlink("loop-b.bin", scratch_ / "loop-a.bin");
    fs::create_symlink("loop-a.bin", scratch_ / "loop-b.bin");
    fs::create_symlink("nowhere.bin", scratch_ / "dangling.bin");
    ASSERT_TRUE(writeBytes(scratch_ / "empty.bin", {}));
    const auto tooLong = deepFile(scratch_ / "deep", 4200, "screen.bin", sample("text.bin"));
    ASSERT_TRUE(tooLong);
    // Not UTF-8, so no text names it: the name the program gets names no file.
    ASSERT_TRUE(writeBytes(scratch_ / "latin-1 \xe9t\xe9.bin", sample("text.bin")));

    const fs::path names[] = {scratch_ / "fifo.bin",
                              "/dev/zero",
                              "/dev/urandom",
                              scratch_ / "socket.bin",
                              scratch_ / "folder.bin",
                              scratch_ / "loop-a.bin",
                              scratch_ / "dangling.bin",
                              scratch_ / "empty.bin",
                              *tooLong,
                              scratch_ / "latin-1 \xe9t\xe9.bin"};
    for (const fs::path& name : names) {
        for (const Road road : {Road::Dialog, Road::Drop}) {
            expectNothingChanges(name.string().substr(0, 200) + (road == Road::Drop ? " dropped" : " opened"),
                                 [&] { import(nameOf(name), road); });
        }
    }
    ::close(listening);
}

TEST_F(ShellHostile, AFileChangedBetweenTheLookAndTheReadChangesNothing) {
    struct Case {
        const char* what;
        std::string action;
        std::string replacement;
        std::string length;
    };
    const Case cases[] = {
        {"removed", "remove", "", ""},
        {"replaced by a FIFO", "replace", "fifo", ""},
        {"replaced by a folder", "replace", "folder", ""},
        {"replaced by a link to a device", "replace", "device", ""},
        {"emptied after opening", "truncate", "", "0"},
    };
    for (const Case& c : cases) {
        for (const Road road : {Road::Dialog, Road::Drop}) {
            const fs::path screen = scratch_ / "changing.bin";
            const fs::path with = scratch_ / "replacement";
            fs::remove_all(screen);
            fs::remove_all(with);
            ASSERT_TRUE(writeBytes(screen, sample("text.bin")));
            if (c.replacement == "fifo") {
                ASSERT_EQ(::mkfifo(with.c_str(), 0644), 0);
            }
            if (c.replacement == "folder") fs::create_directories(with);
            if (c.replacement == "device") fs::create_symlink("/dev/zero", with);
            expectNothingChanges(std::string(c.what) + (road == Road::Drop ? ", dropped" : ", opened"), [&] {
                const Swap swap(screen, c.action, scratch_ / "reads", with, c.length);
                import(nameOf(screen), road);
            });
            EXPECT_FALSE(c.action == "replace" && fs::exists(fs::symlink_status(with))) << "no swap happened";
        }
    }
}

TEST_F(ShellHostile, AFileCutShortAfterOpeningReplacesOnlyTheBytesItStillHas) {
    const fs::path screen = scratch_ / "changing.bin";
    ASSERT_TRUE(writeBytes(screen, sample("text.bin")));
    std::vector<std::uint8_t> expected(window_->screen().begin(), window_->screen().end());
    std::copy_n(sample("text.bin").begin(), 10, expected.begin());
    {
        const Swap swap(screen, "truncate", scratch_ / "reads", {}, "10");
        Watchdog watchdog("cut short");
        import(nameOf(screen), Road::Drop);
    }
    EXPECT_EQ(bytesRead(scratch_ / "reads"), 10);
    EXPECT_EQ(std::vector<std::uint8_t>(window_->screen().begin(), window_->screen().end()), expected);
}

TEST_F(ShellHostile, NoMoreThan1024BytesAreReadFromASparse4GiBFile) {
    const fs::path sparse = scratch_ / "sparse.bin";
    ASSERT_TRUE(writeBytes(sparse, {}));
    ASSERT_EQ(::truncate(sparse.c_str(), 4LL << 30), 0);
    {
        const Swap swap(sparse, "", scratch_ / "reads");
        Watchdog watchdog("sparse");
        import(nameOf(sparse), Road::Dialog);
    }
    EXPECT_EQ(bytesRead(scratch_ / "reads"), 1024);
    EXPECT_TRUE(
        std::all_of(window_->screen().begin(), window_->screen().end(), [](auto b) { return b == 0; }));
}

TEST_F(ShellHostile, AwkwardNamesAreImportedByDialogAndByDrop) {
    const auto deep = deepFile(scratch_ / "deep", 4090, "s.bin", {});
    ASSERT_TRUE(deep);
    const fs::path names[] = {scratch_ / "écran d'été ✓.bin", scratch_ / "  blanks  around  .bin",
                              scratch_ / "-leading-dash.bin", scratch_ / "line\nbreak.bin",
                              scratch_ / "100%#?*[glob].bin", *deep};
    const Bytes text = sample("text.bin");
    const Bytes card = sample("testcard.bin");
    int imports = 0;
    for (const fs::path& name : names) {
        for (const Road road : {Road::Dialog, Road::Drop}) {
            SCOPED_TRACE(name.string().substr(0, 200) + (road == Road::Drop ? " dropped" : " opened"));
            // Each import shows the other screen than the one before.
            const Bytes& bytes = ++imports % 2 ? text : card;
            const int out = ::open(name.c_str(), O_WRONLY | O_TRUNC | O_CREAT | O_CLOEXEC, 0644);
            ASSERT_GE(out, 0);
            ASSERT_EQ(::write(out, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
            ::close(out);
            WindowSpy spy;
            {
                Watchdog watchdog(name.string().substr(0, 200));
                import(nameOf(name), road);
            }
            EXPECT_EQ(spy.shown(), QStringList{});
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + kScreenBytes, window_->screen().begin()));
        }
    }
}

TEST_F(ShellHostile, SavesThatCannotBeMadeChangeNothingAndShowNothing) {
    ASSERT_EQ(::mkfifo((scratch_ / "fifo.png").c_str(), 0644), 0); // no reader: opening it would wait
    fs::create_directories(scratch_ / "folder.png");
    fs::create_symlink("loop-b.png", scratch_ / "loop-a.png");
    fs::create_symlink("loop-a.png", scratch_ / "loop-b.png");
    fs::create_symlink("/dev/full", scratch_ / "device.png");
    const auto tooLong = deepFile(scratch_ / "deep", 4200, "screen.png", {'o', 'l', 'd'});
    ASSERT_TRUE(tooLong);
    const std::vector<std::string> before = Scratch::names(scratch_.path());

    for (const fs::path& name : {scratch_ / "fifo.png", scratch_ / "folder.png", scratch_ / "loop-a.png",
                                 scratch_ / "device.png", *tooLong}) {
        expectNothingChanges(name.string().substr(0, 200), [&] { save(nameOf(name)); });
    }
    EXPECT_EQ(Scratch::names(scratch_.path()), before);
    EXPECT_TRUE(fs::is_fifo(scratch_ / "fifo.png"));
    EXPECT_EQ(readDeep(*tooLong), (Bytes{'o', 'l', 'd'}));

    SmallDisk disk(scratch_ / "disk", "size=64k,mode=0755");
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot();
    const fs::path target = disk.path() / "screen.png";
    ASSERT_TRUE(writeBytes(target, {'o', 'l', 'd'}));
    ASSERT_TRUE(disk.fillLeaving(4096));
    expectNothingChanges("a full disk", [&] { save(nameOf(target)); });
    EXPECT_EQ(readBytes(target), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(Scratch::names(disk.path()), (std::vector<std::string>{".filler", "screen.png"}));
}

// Root reads and writes anywhere: the suite runs these as nobody through run_unprivileged.sh.
class UnprivilegedShell : public ShellHostile {
protected:
    void SetUp() override {
        if (::geteuid() == 0) GTEST_SKIP() << "run as an unprivileged user by reliability_shell_unprivileged";
        ShellHostile::SetUp();
    }
};

TEST_F(UnprivilegedShell, AFileItMayNotReadChangesNothing) {
    ASSERT_TRUE(writeBytes(scratch_ / "locked.bin", sample("text.bin")));
    ::chmod((scratch_ / "locked.bin").c_str(), 0);
    fs::create_directories(scratch_ / "closed");
    ASSERT_TRUE(writeBytes(scratch_ / "closed" / "inside.bin", sample("text.bin")));
    ::chmod((scratch_ / "closed").c_str(), 0);
    for (const fs::path& name : {scratch_ / "locked.bin", scratch_ / "closed" / "inside.bin"}) {
        for (const Road road : {Road::Dialog, Road::Drop}) {
            expectNothingChanges(name.string() + (road == Road::Drop ? " dropped" : " opened"),
                                 [&] { import(nameOf(name), road); });
        }
    }
}

TEST_F(UnprivilegedShell, AFolderOrFileItMayNotWriteIsLeftAsItWas) {
    const Bytes earlier = {'o', 'l', 'd'};
    fs::create_directories(scratch_ / "locked");
    ASSERT_TRUE(writeBytes(scratch_ / "locked" / "screen.png", earlier));
    ::chmod((scratch_ / "locked").c_str(), 0555);
    ASSERT_TRUE(writeBytes(scratch_ / "read-only.png", earlier));
    ::chmod((scratch_ / "read-only.png").c_str(), 0444);
    for (const fs::path& name :
         {scratch_ / "locked" / "screen.png", scratch_ / "locked" / "new.png", scratch_ / "read-only.png"}) {
        expectNothingChanges(name.string(), [&] { save(nameOf(name)); });
    }
    EXPECT_EQ(readBytes(scratch_ / "locked" / "screen.png"), earlier);
    EXPECT_EQ(readBytes(scratch_ / "read-only.png"), earlier);
    EXPECT_EQ(Scratch::names(scratch_ / "locked"), std::vector<std::string>{"screen.png"});
}

} // namespace
} // namespace quillmark::reliability

int main(int argc, char** argv) {
    // Nothing here is looked at on a screen: without a display of its own choosing the test draws off-screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
