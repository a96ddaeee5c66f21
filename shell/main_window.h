// The main window: menus, tool bar and picture view over the application state (screen buffer, rounding
// flag, current picture).
#pragma once

#include "pictures/picture.h"
#include "teletext/renderer.h"

#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

class QAction;
class QToolBar;

namespace quillmark {

class Dialogs;
class PictureView;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // The dialogs must outlive the window.
    explicit MainWindow(Dialogs& dialogs, QWidget* parent = nullptr);

    // Shows the window centred on the primary screen, then the About box over it.
    void start();

    bool rounding() const { return rounding_; }
    // The picture the view shows: none before the first import or toggle, or after a failed render.
    const std::optional<Picture>& currentPicture() const { return picture_; }
    std::span<const std::uint8_t> screen() const { return screen_; }

    // Reads a screen file into the screen buffer and shows it. False, with nothing changed, when the name
    // is empty or the file cannot be read or is empty.
    bool importScreenFile(const QString& name);
    // Imports the file the user picks in the open dialog.
    void importFromDialog();
    // Imports the file of a one-file drop; a drop of several files names no single screen and changes
    // nothing.
    void importDropped(const QStringList& names);
    void toggleRounding();
    // Renders the screen buffer at the rounding setting and shows it, small glyphs doubled to 480 x 500.
    void refreshDisplay();
    void showAbout();

private:
    void buildActions();
    void buildToolBar();
    void buildMenus();
    // Full-screen preview of the current picture, for the menu item, its button and a double-click.
    void showFullScreenPreview();
    // Saves the rendered screen as a picture file chosen in the save dialog.
    void saveAs();

    Dialogs& dialogs_;
    std::array<std::uint8_t, kScreenBufferBytes> screen_{};
    bool rounding_ = true;
    std::optional<Picture> picture_;

    PictureView* view_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QAction* importAction_ = nullptr;
    QAction* importDiskImageAction_ = nullptr;
    QAction* saveAction_ = nullptr;
    QAction* closeAction_ = nullptr;
    QAction* roundingAction_ = nullptr;
    QAction* previewAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
};

// Where a window of the given outer size goes to sit centred on a screen; a window larger than the screen
// starts at the screen's top left.
QPoint centredTopLeft(const QRect& screen, const QSize& outer);

// The About box's text: the program's name, its version and what it does.
QString aboutText();

} // namespace quillmark
