// The real program under the X server, driven through xdotool as a user would: a screen imported through the
// open dialog, the full-screen preview, and a save through the save dialog, with screenshots compared with
// the renderer's own pictures and the saved file with the renderer's. Takes the program's path as its first
// argument.
#include "pictures/save_types.h"
#include "sample_screen.h"
#include "shell/full_screen_preview.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>

using namespace quillmark;
using namespace quillmark::testing;

namespace {

QString programPath;

struct Geometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Runs xdotool and gives what it printed, or nothing when it failed or took longer than the timeout.
std::optional<QString> xdotool(const QStringList& arguments, int timeoutMs = 20000) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The id of the first window whose whole name is the given one, waiting for it to be mapped.
std::optional<QString> waitForWindow(const QString& name, int timeoutMs = 20000) {
    const auto ids = xdotool({"search", "--sync", "--onlyvisible", "--name", "^" + name + "$"}, timeoutMs);
    if (!ids || ids->isEmpty()) return std::nullopt;
    return ids->split('\n').first();
}

std::optional<Geometry> geometryOf(const QString& window) {
    const auto shell = xdotool({"getwindowgeometry", "--shell", window});
    if (!shell) return std::nullopt;
    Geometry geometry;
    for (const QString& line : shell->split('\n')) {
        const QString key = line.section('=', 0, 0);
        const int value = line.section('=', 1).toInt();
        if (key == "X")
            geometry.x = value;
        else if (key == "Y")
            geometry.y = value;
        else if (key == "WIDTH")
            geometry.width = value;
        else if (key == "HEIGHT")
            geometry.height = value;
    }
    return geometry;
}

// The picture view: 480 x 500 along the bottom of the main window.
QImage grabView(const Geometry& window) {
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    return screen.copy(window.x, window.y + window.height - 500, 480, 500)
        .convertToFormat(QImage::Format_RGB32);
}

bool isUniform(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != image.pixel(0, 0)) return false;
        }
    }
    return true;
}

// Waits for the menu to open: a second visible window of the program, beside the main window. Menus carry
// no window name, so they are told apart only by count.
bool waitForMenu() {
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        const auto ids = xdotool({"search", "--onlyvisible", "--classname", "^quillmark$"});
        if (ids && ids->split('\n').size() >= 2) return true;
        QTest::qWait(50);
    }
    return false;
}

// Opens the File menu with a click on its title at the menu bar's left, then picks an item by keys.
bool chooseFromFileMenu(const Geometry& geometry, const QStringList& keys) {
    // XTest events reach the server in order, so the click lands where the pointer was moved to.
    const QString x = QString::number(geometry.x + 14);
    const QString y = QString::number(geometry.y + 8);
    if (!xdotool({"mousemove", x, y, "click", "1"})) return false;
    if (!waitForMenu()) return false;
    return xdotool(QStringList{"key", "--delay", "50"} + keys).has_value();
}

// Chooses a File menu item that opens the named dialog. On a busy machine a key can reach the menu before it
// takes the keyboard, and the wrong item (or none) is chosen; then the menu is closed and chosen again.
std::optional<QString> openDialogFromFileMenu(const Geometry& geometry, const QStringList& keys,
                                              const QString& title) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!chooseFromFileMenu(geometry, keys)) return std::nullopt;
        if (const auto dialog = waitForWindow(title, 8000)) return dialog;
        xdotool({"key", "Escape", "Escape"});
        QTest::qWait(500);
    }
    return std::nullopt;
}

QImage grabScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

// Keeps a screenshot for a person to look at when QUILLMARK_SCREENSHOTS names a folder.
void keepScreenshot(const QString& name) {
    if (const QByteArray folder = qgetenv("QUILLMARK_SCREENSHOTS"); !folder.isEmpty())
        grabScreen().save(QString::fromLocal8Bit(folder) + '/' + name + ".png");
}

int visibleProgramWindows() {
    const auto ids = xdotool({"search", "--onlyvisible", "--classname", "^quillmark$"});
    return ids ? static_cast<int>(ids->split('\n', Qt::SkipEmptyParts).size()) : 0;
}

} // namespace

// Each test starts the program, dismisses its About box and imports the sample screen through the open
// dialog; each ends by choosing "Close" and checking the exit status.
class EndToEndTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;
    QString screenName_;
    std::unique_ptr<QProcess> program_;
    QString main_;
    Geometry geometry_;

    QString configFolder() const { return folder_.filePath("config"); }

    QImage expectedView() const {
        return shownImage(sampleScreen(), true).convertToFormat(QImage::Format_RGB32);
    }

    void importSample() {
        // File, Import...: the first item.
        const auto dialog = openDialogFromFileMenu(geometry_, {"Down", "Return"}, "Open Mode 7 screen file");
        QVERIFY(dialog);
        QVERIFY(xdotool({"windowfocus", "--sync", *dialog}));
        QVERIFY(xdotool({"type", "--delay", "5", screenName_}));
        QVERIFY(xdotool({"key", "Return"}));
        QTRY_VERIFY_WITH_TIMEOUT(!xdotool({"search", "--onlyvisible", "--name", "^Open Mode 7 screen file$"}),
                                 10000);
        QTRY_VERIFY_WITH_TIMEOUT(grabView(geometry_) == expectedView(), 10000);
    }

    void closeProgram() {
        // File, Close: the last item.
        QVERIFY(chooseFromFileMenu(geometry_, {"Up", "Return"}));
        QVERIFY(program_->waitForFinished(20000));
        QCOMPARE(program_->exitStatus(), QProcess::NormalExit);
        QCOMPARE(program_->exitCode(), 0);
    }

private slots:
    void initTestCase() {
        QVERIFY2(QFileInfo(programPath).isExecutable(), qPrintable(programPath));
        QVERIFY(folder_.isValid());
        screenName_ = folder_.filePath("page one.bin");
        QVERIFY(writeFile(screenName_, sampleScreen()));
    }

    void init() {
        program_ = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The toolkit's own dialogs, whatever desktop the test runs under.
        environment.insert("QT_QPA_PLATFORMTHEME", "");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        // Where the toolkit would keep settings between runs; the program must leave it empty.
        QVERIFY(QDir().mkpath(configFolder()));
        environment.insert("XDG_CONFIG_HOME", configFolder());
        environment.insert("HOME", configFolder());
        program_->setProcessEnvironment(environment);
        program_->setProcessChannelMode(QProcess::ForwardedChannels);
        program_->start(programPath, {});
        QVERIFY(program_->waitForStarted());

        const auto main = waitForWindow("Quillmark - Pelorand");
        QVERIFY(main);
        main_ = *main;
        const auto about = waitForWindow("About");
        QVERIFY(about);
        keepScreenshot("about");
        QVERIFY(xdotool({"windowfocus", "--sync", *about}));
        QVERIFY(xdotool({"key", "Return"}));
        QTRY_VERIFY_WITH_TIMEOUT(!xdotool({"search", "--onlyvisible", "--name", "^About$"}), 10000);

        const auto geometry = geometryOf(main_);
        QVERIFY(geometry);
        geometry_ = *geometry;
        QCOMPARE(geometry_.width, 480);
        QVERIFY(geometry_.height >= 550);
        // Nothing is rendered at start-up.
        QVERIFY(isUniform(grabView(geometry_)));
        importSample();
    }

    void cleanup() {
        if (program_->state() != QProcess::NotRunning) {
            program_->kill();
            program_->waitForFinished();
        }
        program_.reset();
    }

    void importedScreenShowsPixelForPixel() {
        keepScreenshot("imported");
        closeProgram();
    }

    void previewFillsTheDisplayUntilThePictureIsClicked() {
        // A double-click on the picture view opens the preview.
        const int viewX = geometry_.x + 240;
        const int viewY = geometry_.y + geometry_.height - 250;
        QVERIFY(xdotool({"mousemove", QString::number(viewX), QString::number(viewY), "click", "--repeat",
                         "2", "--delay", "80", "1"}));
        QTRY_COMPARE_WITH_TIMEOUT(visibleProgramWindows(), 2, 10000);

        // 480 x 500 on 1920 x 1080: 1037 x 1080 at (441, 0), every pixel taken from one of the picture's.
        const QSize display = QGuiApplication::primaryScreen()->size();
        const auto geometry = previewGeometry(480, 500, display.width(), display.height());
        QVERIFY(geometry);
        std::optional<Picture> picture = renderScreen(sampleScreen(), LargeGlyphs);
        QVERIFY(picture && picture->resize(geometry->width, geometry->height));
        const QImage scaled = toImage(*picture).convertToFormat(QImage::Format_RGB32);
        const QRect area(geometry->x, geometry->y, geometry->width, geometry->height);
        QImage shown;
        QTRY_VERIFY_WITH_TIMEOUT((shown = grabScreen()).copy(area) == scaled, 10000);
        keepScreenshot("preview");
        for (const QRect& margin :
             {QRect(0, 0, area.left(), display.height()),
              QRect(area.right() + 1, 0, display.width() - area.right() - 1, display.height())})
            QVERIFY(isUniform(shown.copy(margin)) && shown.pixel(margin.topLeft()) == qRgb(0, 0, 0));

        // A click on the margin and keys leave it up.
        QVERIFY(xdotool({"mousemove", "100", "500", "click", "1"}));
        QVERIFY(xdotool({"key", "Escape", "Return", "space"}));
        QTest::qWait(300);
        QCOMPARE(visibleProgramWindows(), 2);

        // A double-click on the picture ends it at its first click; the second lands on the main window as a
        // single click and opens nothing.
        QVERIFY(xdotool({"mousemove", QString::number(viewX), QString::number(viewY), "click", "--repeat",
                         "2", "--delay", "80", "1"}));
        QTRY_COMPARE_WITH_TIMEOUT(visibleProgramWindows(), 1, 10000);
        QTest::qWait(500);
        QCOMPARE(visibleProgramWindows(), 1);
        QCOMPARE(grabView(geometry_), expectedView());
        closeProgram();
    }

    void saveWritesWhatTheRendererMakes() {
        // File, Save as...: the second enabled item.
        const auto dialog = openDialogFromFileMenu(geometry_, {"Down", "Down", "Return"}, "Save image");
        QVERIFY(dialog);
        QVERIFY(xdotool({"windowfocus", "--sync", *dialog}));
        keepScreenshot("save");
        const QString typed = folder_.filePath("saved screen");
        QVERIFY(xdotool({"type", "--delay", "5", typed}));
        QVERIFY(xdotool({"key", "Return"}));
        QTRY_VERIFY_WITH_TIMEOUT(!xdotool({"search", "--onlyvisible", "--name", "^Save image$"}), 10000);

        // PNG was selected, so ".png" is appended; the bytes are those of the same save call the command-line
        // renderer makes.
        QFile saved(typed + ".png");
        QTRY_VERIFY_WITH_TIMEOUT(saved.exists(), 10000);
        const std::optional<Picture> picture = renderScreen(sampleScreen(), LargeGlyphs);
        QVERIFY(picture);
        const QString reference = folder_.filePath("reference.png");
        QVERIFY(savePictureAs(*picture, QFile::encodeName(reference).toStdString(), kPngPosition));
        QFile expected(reference);
        QVERIFY(saved.open(QIODevice::ReadOnly) && expected.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll() == expected.readAll());
        closeProgram();
        QVERIFY2(QDir(configFolder()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 "nothing is kept between runs");
    }
};

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    if (argc > 1) programPath = QString::fromLocal8Bit(argv[1]);
    EndToEndTest test;
    // Qt Test reads its own options from what follows the program's path.
    QStringList arguments = application.arguments();
    if (arguments.size() > 1) arguments.removeAt(1);
    return QTest::qExec(&test, arguments);
}

#include "end_to_end_test.moc"
