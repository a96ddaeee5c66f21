// The 480 x 500 view that shows the current picture, takes dropped files and reports double-clicks.
#pragma once

#include "pictures/picture.h"

#include <QImage>
#include <QStringList>
#include <QWidget>
#include <optional>

namespace quillmark {

class PictureView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 480;
    static constexpr int kHeight = 500;

    explicit PictureView(QWidget* parent = nullptr);

    // Shows a copy of the picture at its own size from the top left, or nothing for none.
    void setPicture(const Picture* picture);
    // What the view shows; a null image when it shows nothing.
    const QImage& image() const { return image_; }

signals:
    // The local file names of one drop, in the order the drop lists them.
    void filesDropped(const QStringList& names);
    void leftDoubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QImage image_;
    // When the latest left press reached this view: a double-click counts only when its first click did too.
    std::optional<quint64> lastLeftPress_;
};

// A picture as a 32-bit image that owns its own copy of the pixels.
QImage toImage(const Picture& picture);

} // namespace quillmark
