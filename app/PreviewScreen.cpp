#include "app/PreviewScreen.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QPainter>

namespace kv::app {

PreviewScreen::PreviewScreen(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewScreen::Present(const kv::media::TRGBImage& picture)
{
    if (picture.empty())
        return;
    // Deep copy: the player reuses its buffer for the next picture.
    QImage copy(picture.Pixels.data(), picture.Width, picture.Height, picture.Stride, QImage::Format_RGB888);
    {
        QMutexLocker lock(&mutex_);
        picture_ = copy.copy();
        ++presented_;
    }
    scheduleRepaint();
}

void PreviewScreen::Clear()
{
    {
        QMutexLocker lock(&mutex_);
        picture_ = QImage();
    }
    scheduleRepaint();
}

QImage PreviewScreen::currentPicture() const
{
    QMutexLocker lock(&mutex_);
    return picture_;
}

int PreviewScreen::presentedCount() const
{
    QMutexLocker lock(&mutex_);
    return presented_;
}

void PreviewScreen::scheduleRepaint()
{
    // One queued repaint at a time: a slow GUI never piles up paint requests.
    {
        QMutexLocker lock(&mutex_);
        if (repaintPending_)
            return;
        repaintPending_ = true;
    }
    QMetaObject::invokeMethod(this, [this] {
        {
            QMutexLocker lock(&mutex_);
            repaintPending_ = false;
        }
        update();
    }, Qt::QueuedConnection);
}

void PreviewScreen::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    QImage shown = currentPicture();
    if (shown.isNull())
        return;
    // The player scaled the picture to our size already; centre whatever arrives.
    const QPoint at((width() - shown.width()) / 2, (height() - shown.height()) / 2);
    p.drawImage(at, shown);
}

} // namespace kv::app
