#pragma once
// The preview panel's picture: the player hands finished pictures to it from its own
// thread; the panel keeps the latest one and paints it on the GUI thread.
#include "media/TFFPlayer.h"

#include <QImage>
#include <QMutex>
#include <QWidget>

namespace kv::app {

class PreviewScreen final : public QWidget, public kv::media::IVideoScreen {
    Q_OBJECT
public:
    explicit PreviewScreen(QWidget* parent = nullptr);

    // Player side (any thread).
    void Present(const kv::media::TRGBImage& picture) override;
    void Clear() override;

    // GUI side: the picture shown now (a copy), for tests and screenshots.
    QImage currentPicture() const;
    int presentedCount() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void scheduleRepaint();

    mutable QMutex mutex_;
    QImage picture_; // guarded by mutex_
    int presented_ = 0; // guarded by mutex_
    bool repaintPending_ = false; // guarded by mutex_
};

} // namespace kv::app
