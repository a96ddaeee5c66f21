// The full-screen preview: a picture scaled without smoothing to fit the primary display, centred on a black
// borderless window, until the user clicks the picture.
#pragma once

#include "pictures/picture.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QWidget>
#include <optional>

namespace quillmark {

// Where and how large a picture is shown on an area, in pixels.
struct PreviewGeometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PreviewGeometry&) const = default;
};

// The largest size with the picture's proportions that fits the area, and its centred position. The scale is
// the smaller of the two ratios, each divided and kept in single precision; the sizes are the products taken
// in double precision and rounded to nearest, a half to even. None when a size is not positive or the scaled
// picture would have no pixels.
std::optional<PreviewGeometry> previewGeometry(int pictureWidth, int pictureHeight, int areaWidth,
                                               int areaHeight);

// Shows the picture full-screen and returns once the user has clicked it: true then, false when there is no
// picture or it cannot be shown. A width or height of 0 stands for the primary display's, in device pixels.
// Meanwhile every other window of the program takes no input; what the user does there is lost.
bool showFullScreenPreview(const Picture* picture, int width = 0, int height = 0);

// The preview's window: black, borderless, with the scaled picture at a place. It ends at the first left or
// right press on the picture; presses on the margin, keys and close requests do not end it.
class PreviewWindow : public QWidget {
    Q_OBJECT
public:
    // The image is drawn at its device-pixel size from the given position in the window's coordinates.
    PreviewWindow(QImage image, QPointF position);

    bool hasEnded() const { return ended_; }
    // Where the picture lies, in the window's coordinates.
    QRectF pictureArea() const { return area_; }
    const QImage& image() const { return image_; }

signals:
    void ended();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void endOnPictureClick(QMouseEvent* event);

    QImage image_;
    QRectF area_;
    bool ended_ = false;
};

} // namespace quillmark
