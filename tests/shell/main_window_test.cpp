// The main window driven through its menus, tool bar, view and answered dialogs.
#include "pictures/save_types.h"
#include "sample_screen.h"
#include "shell/dialogs.h"
#include "shell/full_screen_preview.h"
#include "shell/main_window.h"
#include "shell/picture_view.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <vector>

using namespace quillmark;
using namespace quillmark::testing;

namespace {

// Answers the open dialog with prepared names in turn (cancel once they run out) and records About boxes.
class AnsweredDialogs : public Dialogs {
public:
    QStringList names;
    int opened = 0;
    std::vector<SaveChoice> saveChoices;
    int saveAsked = 0;
    struct About {
        QWidget* parent;
        bool parentVisible;
        QString text;
    };
    std::vector<About> abouts;

    QString openScreenFile(QWidget*) override {
        ++opened;
        return names.isEmpty() ? QString() : names.takeFirst();
    }
    SaveChoice saveImage(QWidget*) override {
        ++saveAsked;
        if (saveChoices.empty()) return {};
        const SaveChoice choice = saveChoices.front();
        saveChoices.erase(saveChoices.begin());
        return choice;
    }
    void about(QWidget* parent, const QString& text) override {
        abouts.push_back({parent, parent && parent->isVisible(), text});
    }
};

// "-" for a separator, otherwise the action's text.
QStringList entries(const QList<QAction*>& actions) {
    QStringList result;
    for (const QAction* action : actions)
        result.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return result;
}

QAction* findAction(const QList<QAction*>& actions, const QString& text) {
    for (QAction* action : actions) {
        if (action->text() == text) return action;
    }
    return nullptr;
}

bool isAllBlack(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != qRgb(0, 0, 0)) return false;
        }
    }
    return true;
}

QMimeData* fileData(const QStringList& names) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& name : names)
        urls.append(QUrl::fromLocalFile(name));
    data->setUrls(urls);
    return data;
}

// Once the dialog of the given type is the active modal widget, hands it to the answer. Gives up after a
// few seconds so that a dialog that never comes fails the test instead of hanging it.
template <typename Dialog> void answerModal(std::function<void(Dialog*)> answer) {
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [poll, tries, answer] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!dialog && ++*tries < 500) return;
        poll->deleteLater();
        poll->stop();
        if (dialog) answer(dialog);
    });
    poll->start(10);
}

// Runs a full drag over the view and a drop on it; true when the view took the drag as a copy.
bool dragAndDrop(QWidget* view, const QMimeData* data, Qt::DropActions actions) {
    const QPoint centre = view->rect().center();
    QDragEnterEvent enter(centre, actions, data, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QApplication::sendEvent(view, &enter);
    const bool taken = enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
    // A toolkit only delivers the drop after an accepted enter, but the view must refuse it on its own too.
    QDropEvent drop(QPointF(centre), actions, data, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    QApplication::sendEvent(view, &drop);
    return taken;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<AnsweredDialogs> dialogs_;
    std::unique_ptr<MainWindow> window_;
    QTemporaryDir folder_;
    QString sampleName_;
    std::unique_ptr<QTimer> previewPoll_;

    // Hands every full-screen preview that opens during the test to the answer. A preview that the answer
    // leaves open, a failed check inside it say, is ended so that the test fails instead of hanging.
    void answerPreview(std::function<void(PreviewWindow*)> answer) {
        previewPoll_ = std::make_unique<QTimer>();
        connect(previewPoll_.get(), &QTimer::timeout, this, [this, answer] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* preview = qobject_cast<PreviewWindow*>(widget);
                if (!preview || !preview->isVisible() || preview->hasEnded() ||
                    !QTest::qWaitForWindowExposed(preview))
                    continue;
                answer(preview);
                if (!preview->hasEnded())
                    clickInWindow(preview, Qt::LeftButton, preview->pictureArea().center().toPoint());
            }
        });
        previewPoll_->start(10);
    }

    PictureView* view() const { return window_->findChild<PictureView*>(); }
    QToolBar* toolBar() const { return window_->findChild<QToolBar*>(); }
    QMenu* menu(const QString& title) const {
        for (QAction* action : window_->menuBar()->actions()) {
            if (action->text() == title) return action->menu();
        }
        return nullptr;
    }
    QAction* menuItem(const QString& title, const QString& text) const {
        QMenu* found = menu(title);
        return found ? findAction(found->actions(), text) : nullptr;
    }
    QToolButton* toolButton(int index) const {
        return qobject_cast<QToolButton*>(toolBar()->widgetForAction(toolBar()->actions().at(index)));
    }
    // Input through the window system, as a user's arrives: blocked while a modal window is up, and two
    // clicks make a press, a release and then a double-click.
    void clickInWindow(QWidget* widget, Qt::MouseButton button, QPoint at = {}) {
        const QPoint point = widget->mapTo(widget->window(), at.isNull() ? widget->rect().center() : at);
        QTest::mouseClick(widget->window()->windowHandle(), button, {}, point);
    }
    void doubleClickInWindow(QWidget* widget, Qt::MouseButton button) {
        const QPoint point = widget->mapTo(widget->window(), widget->rect().center());
        QTest::mouseDClick(widget->window()->windowHandle(), button, {}, point);
    }
    QString file(const QString& name, std::span<const std::uint8_t> bytes) const {
        const QString path = folder_.filePath(name);
        return writeFile(path, bytes) ? path : QString();
    }
    void importSample() {
        dialogs_->names = {sampleName_};
        menuItem("File", "Import...")->trigger();
    }
    // Chooses the item in its menu as a user does: opens the menu and clicks the item.
    void clickMenuItem(const QString& title, const QString& text) {
        QMenu* found = menu(title);
        QAction* item = menuItem(title, text);
        QVERIFY(found && item);
        found->popup(window_->mapToGlobal(QPoint(0, 0)));
        QVERIFY(QTest::qWaitForWindowExposed(found));
        QTest::mouseClick(found, Qt::LeftButton, {}, found->actionGeometry(item).center());
        QTRY_VERIFY(!found->isVisible());
    }

private slots:
    void initTestCase() {
        QVERIFY(folder_.isValid());
        const Screen screen = sampleScreen();
        sampleName_ = file("sample.bin", screen);
        QVERIFY(!sampleName_.isEmpty());
    }

    void init() {
        dialogs_ = std::make_unique<AnsweredDialogs>();
        window_ = std::make_unique<MainWindow>(*dialogs_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

    void cleanup() {
        previewPoll_.reset();
        window_.reset();
        dialogs_.reset();
    }

    void windowIsFixedAndShowsTheWholeView() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("Quillmark - Pelorand"));
        QCOMPARE(window_->width(), 480);
        QVERIFY(window_->height() >= 550);
        QCOMPARE(window_->minimumSize(), window_->maximumSize());
        QVERIFY(!(window_->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window_->windowFlags() & Qt::WindowMinimizeButtonHint);

        // The view lies whole below the tool bar, at the window's bottom, at 480 x 500.
        const QRect viewArea(view()->mapTo(window_.get(), QPoint(0, 0)), view()->size());
        QCOMPARE(viewArea.size(), QSize(480, 500));
        QCOMPARE(viewArea.left(), 0);
        QCOMPARE(viewArea.bottom(), window_->height() - 1);
        const QRect barArea(toolBar()->mapTo(window_.get(), QPoint(0, 0)), toolBar()->size());
        QVERIFY(barArea.bottom() < viewArea.top());
        QVERIFY(window_->menuBar()->geometry().bottom() < barArea.top());
    }

    void menusHoldTheirItemsInOrder() {
        QCOMPARE(entries(window_->menuBar()->actions()), (QStringList{"File", "Options", "View", "Help"}));
        QCOMPARE(entries(menu("File")->actions()),
                 (QStringList{"Import...", "Import from disk image...", "-", "Save as...", "-", "Close"}));
        QCOMPARE(entries(menu("Options")->actions()), QStringList{"Enable rounding"});
        QCOMPARE(entries(menu("View")->actions()), QStringList{"Fullscreen preview"});
        QCOMPARE(entries(menu("Help")->actions()), QStringList{"About"});

        QVERIFY(!menuItem("File", "Import from disk image...")->isEnabled());
        QAction* rounding = menuItem("Options", "Enable rounding");
        QVERIFY(rounding->isCheckable());
        QVERIFY(rounding->isChecked());

        // Icons beside exactly these items; "Enable rounding" keeps its icon for the tool bar.
        const QStringList withIcons{"Import...", "Import from disk image...", "Save as...",
                                    "Fullscreen preview"};
        for (QAction* title : window_->menuBar()->actions()) {
            QVERIFY2(QKeySequence::mnemonic(title->text()).isEmpty(), qPrintable(title->text()));
            for (QAction* item : title->menu()->actions()) {
                if (item->isSeparator()) continue;
                const bool iconShown = !item->icon().isNull() && item->isIconVisibleInMenu();
                QVERIFY2(iconShown == withIcons.contains(item->text()), qPrintable(item->text()));
                QVERIFY2(item->shortcuts().isEmpty(), qPrintable(item->text()));
                QVERIFY2(QKeySequence::mnemonic(item->text()).isEmpty(), qPrintable(item->text()));
            }
        }
    }

    void toolBarHoldsItsButtonsInOrder() {
        QToolBar* bar = toolBar();
        QCOMPARE(bar->iconSize(), QSize(16, 16));
        const QList<QAction*> actions = bar->actions();
        QCOMPARE(entries(actions), (QStringList{"Import...", "Import from disk image...", "Save as...", "-",
                                                "Enable rounding", "-", "Fullscreen preview"}));
        for (int index : {0, 1, 2, 4, 6}) {
            QToolButton* button = toolButton(index);
            QVERIFY(button);
            QVERIFY(button->isVisible());
            QVERIFY(!button->icon().isNull());
            QCOMPARE(button->icon().availableSizes().value(0), QSize(16, 16));
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
            QCOMPARE(button->isEnabled(), index != 1);
            QHelpEvent hover(QEvent::ToolTip, button->rect().center(),
                             button->mapToGlobal(button->rect().center()));
            QApplication::sendEvent(button, &hover);
            QVERIFY2(!QToolTip::isVisible(), "the buttons have no tool-tip texts");
        }
        QVERIFY(toolButton(4)->isCheckable());
        QVERIFY(toolButton(4)->isChecked());
    }

    void roundingAgreesAfterAnyMixOfMenuAndToolBarClicks() {
        QAction* item = menuItem("Options", "Enable rounding");
        QToolButton* button = toolButton(4);
        bool expected = true;
        for (QChar source : QStringLiteral("MTTMMTMTT")) {
            if (source == 'M')
                clickMenuItem("Options", "Enable rounding");
            else
                QTest::mouseClick(button, Qt::LeftButton);
            expected = !expected;
            QCOMPARE(window_->rounding(), expected);
            QCOMPARE(item->isChecked(), expected);
            QCOMPARE(button->isChecked(), expected);
        }
    }

    void nothingIsShownUntilTheFirstToggleWhichShowsBlack() {
        QVERIFY(!window_->currentPicture());
        QVERIFY(view()->image().isNull());

        for (bool rounding : {false, true}) {
            menuItem("Options", "Enable rounding")->trigger();
            QCOMPARE(window_->rounding(), rounding);
            QVERIFY(window_->currentPicture());
            QCOMPARE(view()->image().size(), QSize(480, 500));
            QVERIFY(isAllBlack(view()->image()));
        }
    }

    void importShowsTheChosenScreenAtEitherRounding() {
        // Through the tool bar's button, then through the menu item with rounding off.
        const Screen screen = sampleScreen();
        dialogs_->names = {sampleName_};
        QTest::mouseClick(toolButton(0), Qt::LeftButton);
        QCOMPARE(dialogs_->opened, 1);
        QVERIFY(std::equal(screen.begin(), screen.end(), window_->screen().begin()));
        QCOMPARE(view()->image(), shownImage(screen, true));

        menuItem("Options", "Enable rounding")->trigger();
        Screen other = screen;
        std::reverse(other.begin(), other.end());
        dialogs_->names = {file("other.bin", other)};
        menuItem("File", "Import...")->trigger();
        QCOMPARE(dialogs_->opened, 2);
        QCOMPARE(view()->image(), shownImage(other, false));
        QCOMPARE(view()->image().size(), QSize(480, 500));
    }

    void twoTogglesGiveBackTheSamePicture() {
        importSample();
        const QImage before = view()->image();
        QCOMPARE(before, shownImage(sampleScreen(), true));

        QAction* rounding = menuItem("Options", "Enable rounding");
        rounding->trigger();
        QCOMPARE(view()->image(), shownImage(sampleScreen(), false));
        QVERIFY(view()->image() != before);
        rounding->trigger();
        QCOMPARE(view()->image(), before);
    }

    void aShortFileRefillsOnlyTheStartOfTheScreen() {
        importSample();
        const std::vector<std::uint8_t> half(500, 'A');
        dialogs_->names = {file("half.bin", half)};
        menuItem("File", "Import...")->trigger();

        Screen expected = sampleScreen();
        std::fill_n(expected.begin(), half.size(), std::uint8_t{'A'});
        QVERIFY(std::equal(expected.begin(), expected.end(), window_->screen().begin()));
        QCOMPARE(view()->image(), shownImage(expected, true));
    }

    void failedImportsChangeNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("cancelled dialog") << QString();
        QTest::newRow("missing file") << folder_.filePath("missing.bin");
        QTest::newRow("folder") << folder_.path();
        QTest::newRow("empty file") << file("empty.bin", {});
        const QString fifo = folder_.filePath("fifo");
        QVERIFY(QFile::exists(fifo) || mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QTest::newRow("FIFO") << fifo;
    }

    void failedImportsChangeNothing() {
        QFETCH(QString, name);
        importSample();
        const QImage before = view()->image();
        const QString folderBefore = QDir::currentPath();

        dialogs_->names = {name};
        menuItem("File", "Import...")->trigger();

        QCOMPARE(dialogs_->opened, 2);
        const Screen screen = sampleScreen();
        QVERIFY(std::equal(screen.begin(), screen.end(), window_->screen().begin()));
        QCOMPARE(view()->image(), before);
        QCOMPARE(QDir::currentPath(), folderBefore);
        QVERIFY(dialogs_->abouts.empty());
        QVERIFY(!QApplication::activeModalWidget());
    }

    void aDroppedFileIsImportedAtTheCurrentRounding() {
        menuItem("Options", "Enable rounding")->trigger();
        std::unique_ptr<QMimeData> data(fileData({sampleName_}));
        QVERIFY(dragAndDrop(view(), data.get(), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction));
        QCOMPARE(dialogs_->opened, 0);
        QCOMPARE(view()->image(), shownImage(sampleScreen(), false));
    }

    void dropsOfSeveralFilesOrOfAnythingButFilesChangeNothing_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("dragTaken");
        QTest::newRow("two files") << "two files" << true;
        QTest::newRow("text") << "text" << false;
        QTest::newRow("picture") << "picture" << false;
        QTest::newRow("web link") << "web link" << false;
        QTest::newRow("file offered for moving only") << "move only" << false;
    }

    void dropsOfSeveralFilesOrOfAnythingButFilesChangeNothing() {
        QFETCH(QString, kind);
        QFETCH(bool, dragTaken);
        Screen other{};
        other.fill('C');
        const QString otherName = file("c.bin", other);

        QMimeData data;
        Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        if (kind == "two files") {
            data.setUrls({QUrl::fromLocalFile(sampleName_), QUrl::fromLocalFile(otherName)});
        } else if (kind == "text") {
            data.setText(sampleName_);
        } else if (kind == "picture") {
            QImage image(8, 8, QImage::Format_RGB32);
            image.fill(Qt::red);
            data.setImageData(image);
        } else if (kind == "web link") {
            data.setUrls({QUrl(QStringLiteral("https://example.org/screen.bin"))});
        } else {
            data.setUrls({QUrl::fromLocalFile(otherName)});
            actions = Qt::MoveAction;
        }

        importSample();
        const QImage before = view()->image();
        QCOMPARE(dragAndDrop(view(), &data, actions), dragTaken);
        QCOMPARE(view()->image(), before);
        const Screen screen = sampleScreen();
        QVERIFY(std::equal(screen.begin(), screen.end(), window_->screen().begin()));
    }

    void clicksOnTheViewDoNothing() {
        importSample();
        const QImage before = view()->image();
        const QPoint at = view()->rect().center();
        clickInWindow(view(), Qt::LeftButton);
        clickInWindow(view(), Qt::RightButton);
        doubleClickInWindow(view(), Qt::RightButton);
        QContextMenuEvent menuRequest(QContextMenuEvent::Mouse, at, view()->mapToGlobal(at));
        QApplication::sendEvent(view(), &menuRequest);
        QCoreApplication::processEvents();

        QVERIFY(!QApplication::activePopupWidget());
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(dialogs_->opened, 1);
        QVERIFY(window_->rounding());
        QCOMPARE(view()->image(), before);
    }

    void startShowsTheWindowCentredThenAboutOverIt() {
        window_.reset();
        window_ = std::make_unique<MainWindow>(*dialogs_);
        window_->start();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));

        QCOMPARE(dialogs_->abouts.size(), std::size_t{1});
        QCOMPARE(dialogs_->abouts[0].parent, window_.get());
        QVERIFY(dialogs_->abouts[0].parentVisible);
        const QString text = dialogs_->abouts[0].text;
        QVERIFY2(text.contains("Quillmark") && text.contains(QStringLiteral(QUILLMARK_VERSION)),
                 qPrintable(text));
        QVERIFY(!window_->currentPicture());
        QVERIFY(view()->image().isNull());
        QCOMPARE(
            window_->frameGeometry().topLeft(),
            centredTopLeft(QGuiApplication::primaryScreen()->geometry(), window_->frameGeometry().size()));

        menuItem("Help", "About")->trigger();
        QCOMPARE(dialogs_->abouts.size(), std::size_t{2});
        QCOMPARE(dialogs_->abouts[1].text, text);
    }

    void windowsAreCentredOrPinnedToTheScreensCorner_data() {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QSize>("outer");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("full HD") << QRect(0, 0, 1920, 1080) << QSize(480, 550) << QPoint(720, 265);
        QTest::newRow("odd remainder rounds down")
            << QRect(0, 0, 1365, 767) << QSize(482, 574) << QPoint(441, 96);
        QTest::newRow("second screen") << QRect(1920, 0, 1280, 1024) << QSize(480, 550) << QPoint(2320, 237);
        QTest::newRow("screen smaller than window")
            << QRect(0, 0, 400, 500) << QSize(480, 550) << QPoint(0, 0);
    }

    void windowsAreCentredOrPinnedToTheScreensCorner() {
        QFETCH(QRect, screen);
        QFETCH(QSize, outer);
        QFETCH(QPoint, topLeft);
        QCOMPARE(centredTopLeft(screen, outer), topLeft);
    }

    void theToolkitsDialogsCarryTheirTitles() {
        QtDialogs dialogs;
        const QString folderBefore = QDir::currentPath();

        // The open dialog: titled, no filters, one existing file; answered by choosing the sample.
        QString seenTitle;
        QStringList seenFilters;
        QFileDialog::FileMode seenMode = QFileDialog::Directory;
        answerModal<QFileDialog>([&](QFileDialog* dialog) {
            seenTitle = dialog->windowTitle();
            seenFilters = dialog->nameFilters();
            seenMode = dialog->fileMode();
            dialog->selectFile(sampleName_);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        const QString chosen = dialogs.openScreenFile(window_.get());
        QCOMPARE(seenTitle, QStringLiteral("Open Mode 7 screen file"));
        QVERIFY2(seenFilters.isEmpty() || seenFilters == QStringList{"All Files (*)"},
                 qPrintable(seenFilters.join(',')));
        QCOMPARE(seenMode, QFileDialog::ExistingFile);
        QCOMPARE(QFileInfo(chosen).canonicalFilePath(), QFileInfo(sampleName_).canonicalFilePath());
        QCOMPARE(QDir::currentPath(), folderBefore);

        // The About box: information icon, one OK button, over the given window.
        QString aboutTitle;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QList<QAbstractButton*> buttons;
        QWidget* owner = nullptr;
        answerModal<QMessageBox>([&](QMessageBox* box) {
            aboutTitle = box->windowTitle();
            icon = box->icon();
            buttons = box->buttons();
            owner = box->parentWidget();
            box->accept();
        });
        dialogs.about(window_.get(), aboutText());
        QCOMPARE(aboutTitle, QStringLiteral("About"));
        QCOMPARE(icon, QMessageBox::Information);
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(owner, window_.get());
    }

    void saveWritesTheRenderedScreenUnderTheNameItsTypeAsks_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("rounding");
        QTest::addColumn<bool>("imported");
        QTest::addColumn<QString>("saved");
        QTest::newRow("PNG appended") << "screen" << 2 << true << true << "screen.png";
        QTest::newRow("type decides, not the typed extension")
            << "screen.png" << 0 << true << true << "screen.png.bmp";
        QTest::newRow("accepted extension kept as typed")
            << "screen.Jpeg" << 1 << true << true << "screen.Jpeg";
        QTest::newRow("rounding off saves small glyphs") << "small.bmp" << 0 << false << true << "small.bmp";
        QTest::newRow("before any import") << "black" << 2 << true << false << "black.png";
        QTest::newRow("blank and non-ASCII letters")
            << "écran à moi" << 1 << false << true << "écran à moi.jpg";
        // With its folder, well past the 259 characters that some systems allow a path.
        const QString longName = QString(245, u'n');
        QTest::newRow("path over 259 characters") << longName << 2 << true << true << longName + ".png";
    }

    void saveWritesTheRenderedScreenUnderTheNameItsTypeAsks() {
        QFETCH(QString, typed);
        QFETCH(int, position);
        QFETCH(bool, rounding);
        QFETCH(bool, imported);
        QFETCH(QString, saved);
        QTemporaryDir into;
        QVERIFY(into.isValid());
        if (imported) importSample();
        if (!rounding) menuItem("Options", "Enable rounding")->trigger();
        const QImage shown = view()->image();

        dialogs_->saveChoices = {{into.filePath(typed), position}};
        menuItem("File", "Save as...")->trigger();
        QCOMPARE(dialogs_->saveAsked, 1);

        // The same call with the same arguments as the command-line renderer's, so the same bytes.
        Screen screen{};
        if (imported) screen = sampleScreen();
        const std::optional<Picture> picture = renderScreen(screen, rounding ? LargeGlyphs : SmallGlyphs);
        QVERIFY(picture);
        QCOMPARE(picture->width(), rounding ? 480 : 240);
        const QString reference = folder_.filePath("reference");
        QVERIFY(savePictureAs(*picture, QFile::encodeName(reference).toStdString(), position));
        QFile expected(reference);
        QFile written(into.filePath(saved));
        QVERIFY(expected.open(QIODevice::ReadOnly));
        QVERIFY2(written.open(QIODevice::ReadOnly), qPrintable(written.fileName()));
        QVERIFY(expected.readAll() == written.readAll());
        QCOMPARE(QDir(into.path()).entryList(QDir::Files), QStringList{saved});

        QCOMPARE(view()->image(), shown);
        QCOMPARE(window_->rounding(), rounding);
    }

    void cancellingTheSaveWritesNothing() {
        importSample();
        QTemporaryDir into;
        const QString folderBefore = QDir::currentPath();
        QTest::mouseClick(toolButton(2), Qt::LeftButton);
        dialogs_->saveChoices = {{into.filePath("named but cancelled"), -1}};
        menuItem("File", "Save as...")->trigger();
        QCOMPARE(dialogs_->saveAsked, 2);
        QVERIFY(QDir(into.path()).isEmpty());
        QCOMPARE(QDir::currentPath(), folderBefore);
        QVERIFY(!QApplication::activeModalWidget());
    }

    void previewDoesNothingBeforeAnythingIsRendered() {
        int previews = 0;
        answerPreview([&](PreviewWindow* preview) {
            ++previews;
            clickInWindow(preview, Qt::LeftButton, preview->pictureArea().center().toPoint());
        });
        menuItem("View", "Fullscreen preview")->trigger();
        QTest::mouseClick(toolButton(6), Qt::LeftButton);
        doubleClickInWindow(view(), Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(previews, 0);
    }

    void previewShowsTheCurrentPictureAndDropsTheMainWindowsInput() {
        importSample();
        const QImage before = view()->image();
        QScreen* screen = QGuiApplication::primaryScreen();
        const QSize real = screen->geometry().size() * screen->devicePixelRatio();
        const auto geometry = previewGeometry(480, 500, real.width(), real.height());
        QVERIFY(geometry);
        Picture expected = *window_->currentPicture();
        QVERIFY(expected.resize(geometry->width, geometry->height));

        bool checked = false;
        answerPreview([&](PreviewWindow* preview) {
            QCOMPARE(preview->windowFlags() & Qt::FramelessWindowHint, Qt::FramelessWindowHint);
            QVERIFY(preview->windowTitle().isEmpty());
            QCOMPARE(preview->geometry(), screen->geometry());
            QVERIFY(preview->image().convertToFormat(QImage::Format_RGBA8888) == toImage(expected));
            QCOMPARE(preview->pictureArea().topLeft() * screen->devicePixelRatio(),
                     QPointF(geometry->x, geometry->y));
            // The main window is blocked: a click on its rounding button is lost.
            QCOMPARE(QApplication::activeModalWidget(), preview);
            clickInWindow(toolButton(4), Qt::LeftButton);
            QVERIFY(window_->rounding());
            clickInWindow(preview, Qt::RightButton, preview->pictureArea().center().toPoint());
            checked = true;
        });
        QTest::mouseClick(toolButton(6), Qt::LeftButton);
        QVERIFY(checked);
        QVERIFY(window_->rounding());
        QCOMPARE(view()->image(), before);
    }

    void aDoubleClickOnTheViewPreviewsOnlyWhenBothClicksLandThere() {
        importSample();
        int previews = 0;
        answerPreview([&](PreviewWindow* preview) {
            ++previews;
            clickInWindow(preview, Qt::LeftButton, preview->pictureArea().center().toPoint());
        });
        doubleClickInWindow(view(), Qt::LeftButton);
        QCOMPARE(previews, 1);

        // The second click of a double-click whose first click ended a preview: a single click here.
        QMouseEvent second(QEvent::MouseButtonDblClick, QPointF(view()->rect().center()),
                           QPointF(view()->mapToGlobal(view()->rect().center())), Qt::LeftButton,
                           Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view(), &second);
        QTest::qWait(50);
        QCOMPARE(previews, 1);
    }

    void theSaveDialogListsEachTypesFilesAndKeepsTheTypedName() {
        QTemporaryDir into;
        QVERIFY(into.isValid());
        for (const char* name : {"a.jpg", "b.jpeg", "c.jpe", "d.png", "e.bmp", "f.txt", "g.JPG"})
            QVERIFY(writeFile(into.filePath(name), {}));
        QtDialogs dialogs;
        const QString folderBefore = QDir::currentPath();

        QString title;
        QStringList descriptions;
        QString firstSelected;
        bool asksBeforeReplacing = true;
        QString suffix;
        QStringList pngPatterns;
        QStringList jpegPatterns;
        QStringList jpegListing;
        QString nameAfterSwitch;
        answerModal<QFileDialog>([&](QFileDialog* dialog) {
            title = dialog->windowTitle();
            descriptions = dialog->nameFilters();
            firstSelected = dialog->selectedNameFilter();
            asksBeforeReplacing = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            suffix = dialog->defaultSuffix();
            auto* model = dialog->findChild<QFileSystemModel*>();
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            QVERIFY(model && name && types);
            pngPatterns = model->nameFilters();

            dialog->setDirectory(into.path());
            QTest::keyClicks(name, QStringLiteral("shot.png"));
            // Up from PNG is JPEG, chosen on the type list as a user does.
            QTest::keyClick(types, Qt::Key_Up);
            jpegPatterns = model->nameFilters();
            nameAfterSwitch = name->text();
            const QModelIndex folder = model->index(into.path());
            QTRY_COMPARE(model->rowCount(folder), 4);
            for (int row = 0; row < model->rowCount(folder); ++row)
                jpegListing.append(model->index(row, 0, folder).data().toString());
            jpegListing.sort();
            QTest::keyClick(name, Qt::Key_Return);
        });
        const SaveChoice choice = dialogs.saveImage(window_.get());

        QCOMPARE(title, QStringLiteral("Save image"));
        QCOMPARE(descriptions, (QStringList{"BMP (*.bmp)", "JPEG(*.jpg;*.jpeg;*.jpe)", "PNG (*.png)"}));
        QCOMPARE(firstSelected, QStringLiteral("PNG (*.png)"));
        QVERIFY(!asksBeforeReplacing);
        QVERIFY(suffix.isEmpty());
        QCOMPARE(pngPatterns, QStringList{"*.png"});
        QCOMPARE(jpegPatterns, (QStringList{"*.jpg", "*.jpeg", "*.jpe"}));
        QCOMPARE(jpegListing, (QStringList{"a.jpg", "b.jpeg", "c.jpe", "g.JPG"}));
        QCOMPARE(nameAfterSwitch, QStringLiteral("shot.png"));
        QCOMPARE(choice.position, 1);
        QCOMPARE(choice.fileName, into.filePath("shot.png"));
        QCOMPARE(QDir::currentPath(), folderBefore);

        // A cancel gives no name and no type, and the next dialog starts afresh with PNG.
        answerModal<QFileDialog>([&](QFileDialog* dialog) {
            firstSelected = dialog->selectedNameFilter();
            QMetaObject::invokeMethod(dialog, "reject");
        });
        const SaveChoice cancelled = dialogs.saveImage(window_.get());
        QCOMPARE(firstSelected, QStringLiteral("PNG (*.png)"));
        QCOMPARE(cancelled.position, -1);
        QVERIFY(cancelled.fileName.isEmpty());
    }

    void closeEndsTheProgram() {
        // With the last window closed the application's loop ends; the real program's exit status is
        // checked from outside, by the end-to-end test.
        QVERIFY(qApp->quitOnLastWindowClosed());
        menuItem("File", "Close")->trigger();
        QVERIFY(!window_->isVisible());
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
