#include "shell/main_window.h"

#include "pictures/save_types.h"
#include "pictures/screen_file.h"
#include "shell/dialogs.h"
#include "shell/full_screen_preview.h"
#include "shell/picture_view.h"

#include <QAction>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QToolBar>
#include <algorithm>
#include <filesystem>

#ifndef QUILLMARK_VERSION
#define QUILLMARK_VERSION "unknown"
#endif

namespace quillmark {

namespace {

// Menu bar and tool bar share this much height above the picture view, so the window is 480 x 550.
constexpr int kBarsHeight = 50;

// The tool bar's buttons carry no tool-tip texts. Qt would show each action's text, so the buttons' tool-tip
// events are swallowed.
class NoToolTips : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        return event->type() == QEvent::ToolTip || QObject::eventFilter(watched, event);
    }
};

std::filesystem::path toPath(const QString& name) {
    return std::filesystem::path(QFile::encodeName(name).toStdString());
}

} // namespace

QPoint centredTopLeft(const QRect& screen, const QSize& outer) {
    const int width = std::min(screen.width(), outer.width());
    const int height = std::min(screen.height(), outer.height());
    return screen.topLeft() + QPoint((screen.width() - width) / 2, (screen.height() - height) / 2);
}

QString aboutText() {
    return QStringLiteral("Quillmark %1\n\nRenders BBC Micro Mode 7 teletext screens as pictures.")
        .arg(QStringLiteral(QUILLMARK_VERSION));
}

MainWindow::MainWindow(Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      dialogs_(dialogs) {
    setWindowTitle(QStringLiteral("Quillmark - Pelorand"));
    buildActions();
    buildToolBar();
    buildMenus();
    // Where the style's menu bar is thin enough, the tool bar takes up the rest of the 50 pixels above the
    // view; a taller style only makes the window taller, never the view smaller.
    toolBar_->setMinimumHeight(
        std::max(toolBar_->sizeHint().height(), kBarsHeight - menuBar()->sizeHint().height()));

    view_ = new PictureView(this);
    setCentralWidget(view_);
    connect(view_, &PictureView::filesDropped, this, &MainWindow::importDropped);
    connect(view_, &PictureView::leftDoubleClicked, this, &MainWindow::showFullScreenPreview);

    // The window takes exactly the size its bars and the view need, and the user cannot change it.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void MainWindow::buildActions() {
    // One action serves the menu item and the tool-bar button alike, so the two can never disagree.
    importAction_ =
        new QAction(QIcon(QStringLiteral(":/icons/import.png")), QStringLiteral("Import..."), this);
    connect(importAction_, &QAction::triggered, this, &MainWindow::importFromDialog);

    // What such an import would read is not defined: the entry is there, disabled, and does nothing.
    importDiskImageAction_ = new QAction(QIcon(QStringLiteral(":/icons/import-disk-image.png")),
                                         QStringLiteral("Import from disk image..."), this);
    importDiskImageAction_->setEnabled(false);

    saveAction_ = new QAction(QIcon(QStringLiteral(":/icons/save.png")), QStringLiteral("Save as..."), this);
    connect(saveAction_, &QAction::triggered, this, &MainWindow::saveAs);

    closeAction_ = new QAction(QStringLiteral("Close"), this);
    connect(closeAction_, &QAction::triggered, this, &QWidget::close);

    roundingAction_ =
        new QAction(QIcon(QStringLiteral(":/icons/rounding.png")), QStringLiteral("Enable rounding"), this);
    roundingAction_->setCheckable(true);
    roundingAction_->setChecked(rounding_);
    roundingAction_->setIconVisibleInMenu(false); // the icon belongs to the tool-bar button only
    connect(roundingAction_, &QAction::triggered, this, &MainWindow::toggleRounding);

    previewAction_ = new QAction(QIcon(QStringLiteral(":/icons/fullscreen.png")),
                                 QStringLiteral("Fullscreen preview"), this);
    connect(previewAction_, &QAction::triggered, this, &MainWindow::showFullScreenPreview);

    aboutAction_ = new QAction(QStringLiteral("About"), this);
    connect(aboutAction_, &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::buildToolBar() {
    toolBar_ = addToolBar(QStringLiteral("Tools"));
    toolBar_->setObjectName(QStringLiteral("tools"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // No menu for hiding the bar: the window's layout counts on it.
    toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);
    toolBar_->toggleViewAction()->setEnabled(false);
    toolBar_->addAction(importAction_);
    toolBar_->addAction(importDiskImageAction_);
    toolBar_->addAction(saveAction_);
    toolBar_->addSeparator();
    toolBar_->addAction(roundingAction_);
    toolBar_->addSeparator();
    toolBar_->addAction(previewAction_);

    auto* noToolTips = new NoToolTips(toolBar_);
    for (QAction* action : toolBar_->actions())
        if (QWidget* button = toolBar_->widgetForAction(action)) button->installEventFilter(noToolTips);
}

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->addAction(importAction_);
    file->addAction(importDiskImageAction_);
    file->addSeparator();
    file->addAction(saveAction_);
    file->addSeparator();
    file->addAction(closeAction_);

    QMenu* options = menuBar()->addMenu(QStringLiteral("Options"));
    options->addAction(roundingAction_);

    QMenu* view = menuBar()->addMenu(QStringLiteral("View"));
    view->addAction(previewAction_);

    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    help->addAction(aboutAction_);
}

void MainWindow::start() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        move(centredTopLeft(screen->geometry(), frameGeometry().size()));
    }
    show();
    raise();
    activateWindow();
    showAbout();
}

bool MainWindow::importScreenFile(const QString& name) {
    if (name.isEmpty()) return false;
    if (!readScreenFile(toPath(name), screen_)) return false;
    refreshDisplay();
    return true;
}

void MainWindow::importFromDialog() {
    importScreenFile(dialogs_.openScreenFile(this));
}

void MainWindow::importDropped(const QStringList& names) {
    if (names.size() != 1) return;
    importScreenFile(names.front());
}

void MainWindow::toggleRounding() {
    rounding_ = !rounding_;
    // A button or check mark that already flipped itself is set to the same value again.
    roundingAction_->setChecked(rounding_);
    refreshDisplay();
}

void MainWindow::refreshDisplay() {
    picture_.reset();
    picture_ = renderScreen(screen_, rounding_ ? LargeGlyphs : SmallGlyphs);
    if (picture_ && !rounding_ && !picture_->resize(PictureView::kWidth, PictureView::kHeight))
        picture_.reset();
    view_->setPicture(picture_ ? &*picture_ : nullptr);
}

void MainWindow::showAbout() {
    dialogs_.about(this, aboutText());
}

void MainWindow::showFullScreenPreview() {
    quillmark::showFullScreenPreview(picture_ ? &*picture_ : nullptr);
}

void MainWindow::saveAs() {
    // Rendered before the dialog opens, so the file shows the screen and rounding as they were when the
    // command was chosen, at the renderer's own size: not doubled as the view's copy is.
    const std::optional<Picture> picture = renderScreen(screen_, rounding_ ? LargeGlyphs : SmallGlyphs);
    if (!picture) return;
    const SaveChoice choice = dialogs_.saveImage(this);
    if (choice.position < 0 || choice.fileName.isEmpty()) return;
    const std::string name = saveName(QFile::encodeName(choice.fileName).toStdString(), choice.position);
    savePictureAs(*picture, std::filesystem::path(name), choice.position);
}

} // namespace quillmark
