#include "shell/full_screen_preview.h"

#include "shell/picture_view.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <cmath>

namespace quillmark {

namespace {

// Round to nearest with a half going to the even neighbour: the default rounding mode's nearbyint.
int roundHalfEven(double value) {
    return static_cast<int>(std::nearbyint(value));
}

} // namespace

std::optional<PreviewGeometry> previewGeometry(int pictureWidth, int pictureHeight, int areaWidth,
                                               int areaHeight) {
    if (pictureWidth <= 0 || pictureHeight <= 0 || areaWidth <= 0 || areaHeight <= 0) return std::nullopt;
    // Single precision on purpose: 640 x 480 gives a scale just below 0.96, so 500 x s rounds to 480 where a
    // double would land on 480 exactly and a truncation on 479.
    const float sx = static_cast<float>(areaWidth) / static_cast<float>(pictureWidth);
    const float sy = static_cast<float>(areaHeight) / static_cast<float>(pictureHeight);
    const float scale = sy <= sx ? sy : sx;
    PreviewGeometry geometry;
    geometry.width = roundHalfEven(static_cast<double>(pictureWidth) * static_cast<double>(scale));
    geometry.height = roundHalfEven(static_cast<double>(pictureHeight) * static_cast<double>(scale));
    if (geometry.width <= 0 || geometry.height <= 0) return std::nullopt;
    geometry.x = (areaWidth - geometry.width) >> 1;
    geometry.y = (areaHeight - geometry.height) >> 1;
    return geometry;
}

PreviewWindow::PreviewWindow(QImage image, QPointF position)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), image_(std::move(image)),
      area_(position, image_.deviceIndependentSize()) {
    setWindowTitle(QString());
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
}

void PreviewWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    // The image already has the display's pixel size: it lands one to one on the device pixels, and nothing
    // may smooth it should a toolkit scale it anyway.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(area_.topLeft(), image_);
}

void PreviewWindow::mousePressEvent(QMouseEvent* event) {
    endOnPictureClick(event);
}

void PreviewWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    endOnPictureClick(event);
}

void PreviewWindow::endOnPictureClick(QMouseEvent* event) {
    if (ended_ || (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)) return;
    // Half-open, as pixels are: the picture's last column and row lie just inside its right and bottom edges.
    const QPointF at = event->position();
    if (at.x() < area_.left() || at.x() >= area_.right() || at.y() < area_.top() || at.y() >= area_.bottom())
        return;
    ended_ = true;
    emit ended();
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    // Only a click on the picture ends the preview; Alt+F4 and the like are refused.
    if (!ended_) event->ignore();
}

bool showFullScreenPreview(const Picture* picture, int width, int height) {
    if (!picture) return false;
    Picture copy = *picture;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return false;

    // The display's real pixels, so that the picture is scaled once, here, and shown one to one even where
    // the toolkit counts in larger logical pixels.
    const qreal ratio = screen->devicePixelRatio();
    const QRect screenArea = screen->geometry();
    if (width == 0) width = qRound(screenArea.width() * ratio);
    if (height == 0) height = qRound(screenArea.height() * ratio);
    const std::optional<PreviewGeometry> geometry =
        previewGeometry(copy.width(), copy.height(), width, height);
    if (!geometry || !copy.resize(geometry->width, geometry->height)) return false;

    QImage image = toImage(copy);
    if (image.isNull()) return false;
    image.setDevicePixelRatio(ratio);
    PreviewWindow window(std::move(image), QPointF(geometry->x / ratio, geometry->y / ratio));
    window.setWindowModality(Qt::ApplicationModal);
    window.setScreen(screen);
    const QRect area(screenArea.topLeft(), QSizeF(width / ratio, height / ratio).toSize());
    window.setGeometry(area);

    QEventLoop loop;
    QObject::connect(&window, &PreviewWindow::ended, &loop, &QEventLoop::quit);
    if (area == screenArea)
        window.showFullScreen();
    else
        window.show();
    window.raise();
    window.activateWindow();
    loop.exec();
    window.close();
    return true;
}

} // namespace quillmark
