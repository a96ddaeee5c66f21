// The full-screen preview's geometry and the input that ends it.
#include "shell/full_screen_preview.h"

#include <QApplication>
#include <QCloseEvent>
#include <QSignalSpy>
#include <QTest>

using namespace quillmark;

Q_DECLARE_METATYPE(quillmark::PreviewGeometry)

namespace {

QImage plainImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGBA8888);
    image.fill(Qt::white);
    return image;
}

} // namespace

class FullScreenPreviewTest : public QObject {
    Q_OBJECT

private:
    // A 100 x 50 preview with a 40 x 20 picture at (30, 15), its input going through the window system.
    std::unique_ptr<PreviewWindow> preview_;

    void click(Qt::MouseButton button, QPoint at) {
        QTest::mouseClick(preview_->windowHandle(), button, {}, at);
    }

private slots:
    void picturesFillTheDisplayCentredWithTheirProportions_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("display");
        QTest::addColumn<PreviewGeometry>("expected");
        // The worked values for the 480 x 500 picture on common displays.
        QTest::newRow("1920 x 1080") << QSize(480, 500) << QSize(1920, 1080)
                                     << PreviewGeometry{441, 0, 1037, 1080};
        QTest::newRow("1366 x 768") << QSize(480, 500) << QSize(1366, 768)
                                    << PreviewGeometry{314, 0, 737, 768};
        QTest::newRow("1280 x 1024") << QSize(480, 500) << QSize(1280, 1024)
                                     << PreviewGeometry{148, 0, 983, 1024};
        QTest::newRow("800 x 600") << QSize(480, 500) << QSize(800, 600) << PreviewGeometry{112, 0, 576, 600};
        // 0.96 in single precision lies just below it: 500 x s rounds up to 480, where truncation gives 479.
        QTest::newRow("640 x 480 reduces")
            << QSize(480, 500) << QSize(640, 480) << PreviewGeometry{89, 0, 461, 480};
        QTest::newRow("portrait display")
            << QSize(480, 500) << QSize(1080, 1920) << PreviewGeometry{0, 397, 1080, 1125};
        // 240 x 2.5 = 600 exactly; an odd margin's half rounds down.
        QTest::newRow("small glyphs, odd margin")
            << QSize(240, 250) << QSize(1001, 625) << PreviewGeometry{200, 0, 600, 625};
        QTest::newRow("half rounds to even") << QSize(5, 2) << QSize(5, 1) << PreviewGeometry{1, 0, 2, 1};
    }

    void picturesFillTheDisplayCentredWithTheirProportions() {
        QFETCH(QSize, picture);
        QFETCH(QSize, display);
        QFETCH(PreviewGeometry, expected);
        const auto geometry =
            previewGeometry(picture.width(), picture.height(), display.width(), display.height());
        QVERIFY(geometry);
        QCOMPARE(geometry->x, expected.x);
        QCOMPARE(geometry->y, expected.y);
        QCOMPARE(geometry->width, expected.width);
        QCOMPARE(geometry->height, expected.height);
    }

    void nothingFitsWithoutPixels() {
        QVERIFY(!previewGeometry(0, 500, 1920, 1080));
        QVERIFY(!previewGeometry(480, 500, 0, 1080));
        QVERIFY(!previewGeometry(480, 500, 1920, -1));
        QVERIFY(!previewGeometry(1000, 1, 1, 1)); // 1 x 0.001 rounds to 0
    }

    void noPictureShowsNothing() { QVERIFY(!showFullScreenPreview(nullptr)); }

    void init() {
        preview_ = std::make_unique<PreviewWindow>(plainImage(40, 20), QPointF(30, 15));
        preview_->setGeometry(100, 100, 100, 50);
        preview_->show();
        QVERIFY(QTest::qWaitForWindowExposed(preview_.get()));
    }

    void cleanup() { preview_.reset(); }

    void theWindowIsBlackAndBorderless() {
        QVERIFY(preview_->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(preview_->windowTitle().isEmpty());
        const QImage shown = preview_->grab().toImage();
        QCOMPARE(shown.pixelColor(0, 0), QColor(Qt::black));
        QCOMPARE(shown.pixelColor(29, 14), QColor(Qt::black));
        QCOMPARE(shown.pixelColor(30, 15), QColor(Qt::white));
        QCOMPARE(shown.pixelColor(69, 34), QColor(Qt::white));
        QCOMPARE(shown.pixelColor(70, 35), QColor(Qt::black));
    }

    void clicksOnTheMarginKeysAndCloseRequestsDoNotEndIt() {
        QSignalSpy ended(preview_.get(), &PreviewWindow::ended);
        click(Qt::LeftButton, QPoint(5, 5));
        click(Qt::RightButton, QPoint(29, 20));
        click(Qt::LeftButton, QPoint(70, 20));
        click(Qt::MiddleButton, QPoint(50, 25));
        QTest::keyClick(preview_->windowHandle(), Qt::Key_Escape);
        QTest::keyClick(preview_->windowHandle(), Qt::Key_Return);
        QVERIFY(!preview_->close());
        QVERIFY(preview_->isVisible());
        QCloseEvent request;
        QApplication::sendEvent(preview_.get(), &request);
        QVERIFY(!request.isAccepted());
        QCOMPARE(ended.count(), 0);
        QVERIFY(preview_->isVisible());
        QVERIFY(!preview_->hasEnded());
    }

    void aLeftOrRightClickOnThePictureEndsIt_data() {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QPoint>("at");
        QTest::newRow("left, at the picture's top left") << Qt::LeftButton << QPoint(30, 15);
        QTest::newRow("right, at its bottom right") << Qt::RightButton << QPoint(69, 34);
    }

    void aLeftOrRightClickOnThePictureEndsIt() {
        QFETCH(Qt::MouseButton, button);
        QFETCH(QPoint, at);
        QSignalSpy ended(preview_.get(), &PreviewWindow::ended);
        click(button, at);
        QCOMPARE(ended.count(), 1);
        QVERIFY(preview_->hasEnded());
        QVERIFY(preview_->close());
    }

    void aDoubleClickEndsItAtItsFirstClick() {
        QSignalSpy ended(preview_.get(), &PreviewWindow::ended);
        QTest::mousePress(preview_->windowHandle(), Qt::LeftButton, {}, QPoint(50, 25));
        QCOMPARE(ended.count(), 1);
        QTest::mouseRelease(preview_->windowHandle(), Qt::LeftButton, {}, QPoint(50, 25));
        QTest::mouseDClick(preview_->windowHandle(), Qt::LeftButton, {}, QPoint(50, 25));
        QCOMPARE(ended.count(), 1);
    }
};

QTEST_MAIN(FullScreenPreviewTest)
#include "full_screen_preview_test.moc"
