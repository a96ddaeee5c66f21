#include "shell/picture_view.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleHints>
#include <QUrl>

namespace quillmark {

namespace {

// Only local files offered for copying are taken; text, pictures, links and moves are refused.
bool acceptsDrop(const QMimeData* data, Qt::DropActions actions) {
    if (!data || !data->hasUrls() || !(actions & Qt::CopyAction)) return false;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty()) return false;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile() || url.toLocalFile().isEmpty()) return false;
    }
    return true;
}

template <typename Event> void answerDrag(Event* event) {
    if (!acceptsDrop(event->mimeData(), event->possibleActions())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

} // namespace

QImage toImage(const Picture& picture) {
    // Colour is 0xAABBGGRR, so in memory each pixel reads R, G, B, A: the RGBA8888 layout. The wrapper
    // borrows the picture's pixels; copy() gives the image its own.
    const QImage borrowed(reinterpret_cast<const uchar*>(picture.row(0)), picture.width(), picture.height(),
                          static_cast<qsizetype>(picture.width()) * 4, QImage::Format_RGBA8888);
    return borrowed.copy();
}

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setFixedSize(kWidth, kHeight);
    setAcceptDrops(true);
}

void PictureView::setPicture(const Picture* picture) {
    image_ = picture ? toImage(*picture) : QImage();
    update();
}

void PictureView::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    QPainter painter(this);
    // On a high-density screen the image is scaled up to the device pixels: keep the glyphs' edges hard.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QPoint(0, 0), image_);
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) lastLeftPress_ = event->timestamp();
    QWidget::mousePressEvent(event);
}

void PictureView::mouseDoubleClickEvent(QMouseEvent* event) {
    // The toolkit pairs two clicks into a double-click wherever the first one landed. When that was on the
    // full-screen preview, which it ended, the second click is a single click here and does nothing.
    const auto interval = static_cast<quint64>(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    const bool firstClickHere = lastLeftPress_ && event->timestamp() - *lastLeftPress_ <= interval;
    lastLeftPress_.reset();
    if (event->button() == Qt::LeftButton && firstClickHere) emit leftDoubleClicked();
}

void PictureView::dragEnterEvent(QDragEnterEvent* event) {
    answerDrag(event);
}

void PictureView::dragMoveEvent(QDragMoveEvent* event) {
    answerDrag(event);
}

void PictureView::dropEvent(QDropEvent* event) {
    answerDrag(event);
    if (!event->isAccepted()) return;
    QStringList names;
    for (const QUrl& url : event->mimeData()->urls())
        names.append(url.toLocalFile());
    emit filesDropped(names);
}

} // namespace quillmark
