// The real program under the X server: started, its About box dismissed, a screen imported through the open
// dialog by typing its name, the screen grabbed and the picture view compared with the renderer's picture.
// Takes the program's path as its first argument. Input goes in through xdotool, as a user's would.
#include "sample_screen.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
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
std::optional<QString> waitForWindow(const QString& name) {
    const auto ids = xdotool({"search", "--sync", "--onlyvisible", "--name", "^" + name + "$"});
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

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void importedScreenShowsPixelForPixel() {
        QVERIFY2(QFileInfo(programPath).isExecutable(), qPrintable(programPath));
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString screenName = folder.filePath("page one.bin");
        const Screen screen = sampleScreen();
        QVERIFY(writeFile(screenName, screen));
        const QImage expected = shownImage(screen, true).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(expected.size(), QSize(480, 500));

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The toolkit's own dialogs, whatever desktop the test runs under.
        environment.insert("QT_QPA_PLATFORMTHEME", "");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(programPath, {});
        QVERIFY(program.waitForStarted());
        auto stop = qScopeGuard([&program] {
            if (program.state() != QProcess::NotRunning) {
                program.kill();
                program.waitForFinished();
            }
        });

        const auto main = waitForWindow("Quillmark - Pelorand");
        QVERIFY(main);
        const auto about = waitForWindow("About");
        QVERIFY(about);
        QVERIFY(xdotool({"windowfocus", "--sync", *about}));
        QVERIFY(xdotool({"key", "Return"}));
        QTRY_VERIFY_WITH_TIMEOUT(!xdotool({"search", "--onlyvisible", "--name", "^About$"}), 10000);

        const auto geometry = geometryOf(*main);
        QVERIFY(geometry);
        QCOMPARE(geometry->width, 480);
        QVERIFY(geometry->height >= 550);
        // Nothing is rendered at start-up.
        QVERIFY(isUniform(grabView(*geometry)));

        // File, Import...: the first item.
        QVERIFY(chooseFromFileMenu(*geometry, {"Down", "Return"}));
        const auto dialog = waitForWindow("Open Mode 7 screen file");
        QVERIFY(dialog);
        QVERIFY(xdotool({"windowfocus", "--sync", *dialog}));
        QVERIFY(xdotool({"type", "--delay", "5", screenName}));
        QVERIFY(xdotool({"key", "Return"}));
        QTRY_VERIFY_WITH_TIMEOUT(!xdotool({"search", "--onlyvisible", "--name", "^Open Mode 7 screen file$"}),
                                 10000);

        QImage shown;
        QTRY_VERIFY_WITH_TIMEOUT((shown = grabView(*geometry)) == expected, 10000);
        if (const QByteArray keep = qgetenv("QUILLMARK_SCREENSHOTS"); !keep.isEmpty())
            QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(keep) +
                                                                 "/imported.png");

        // File, Close: the last item.
        QVERIFY(chooseFromFileMenu(*geometry, {"Up", "Return"}));
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
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
