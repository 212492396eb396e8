#include "app/waitpicture/WaitPicture.h"

#include "app/waitpicture/FrameComposer.h"
#include "app/waitpicture/FramePlayer.h"
#include "app/waitpicture/GifAnimation.h"

#include <QFile>
#include <QPainter>

namespace vornel::app {

struct WaitPicture::State {
    std::shared_ptr<const GifAnimation> animation; // a file of two frames or more
    QImage still;                                  // a single-frame file
    std::unique_ptr<FramePlayer> player;           // from the first paint of an animation on
};

namespace {

// The single frame over a transparent screen, so the window shows through its transparent pixels.
QImage StillPicture(const GifAnimation& animation) {
    QImage transparent(animation.width, animation.height, QImage::Format_ARGB32);
    transparent.fill(Qt::transparent);
    FrameComposer composer(animation, transparent);
    const GifFrame& frame = animation.frames.front();
    composer.Paint(frame, PrepareFrameImage(animation, frame));
    return composer.FrameBitmap();
}

} // namespace

WaitPicture::WaitPicture(QWidget* parent) : QWidget(parent), state_(std::make_unique<State>()) {}

WaitPicture::~WaitPicture() {
    // Before the widget is gone: the thread ends, and queued paint calls are dropped with it.
    state_->player.reset();
}

bool WaitPicture::LoadFile(const QString& path) {
    state_->player.reset();
    state_->animation.reset();
    state_->still = QImage();
    update();
    auto decoded = DecodeGifFile(QFile::encodeName(path).toStdString());
    if (!decoded)
        return false;
    resize(decoded->width, decoded->height);
    if (decoded->frames.size() == 1)
        state_->still = StillPicture(*decoded);
    else
        state_->animation = std::make_shared<const GifAnimation>(std::move(*decoded));
    return true;
}

QImage WaitPicture::CaptureBackground(QSize size) const {
    QImage captured(size, QImage::Format_ARGB32);
    captured.fill(palette().window().color());
    QWidget* parent = parentWidget();
    if (!parent)
        return captured;
    QPainter painter(&captured);
    const QRect area(pos(), size);
    // The parent's own painting only: drawing its children would paint this widget again.
    const QRect underParent = area & parent->rect();
    parent->render(&painter, underParent.topLeft() - pos(), QRegion(underParent), DrawWindowBackground);
    // Then the siblings stacked below this widget, such as a background picture.
    for (QObject* child : parent->children()) {
        if (child == this)
            break;
        auto* sibling = qobject_cast<QWidget*>(child);
        if (!sibling || sibling->isWindow() || !sibling->isVisible())
            continue;
        const QRect overlap = sibling->geometry() & area;
        if (overlap.isEmpty())
            continue;
        sibling->render(&painter, overlap.topLeft() - pos(), QRegion(overlap.translated(-sibling->pos())),
                        DrawWindowBackground | DrawChildren);
    }
    return captured;
}

void WaitPicture::paintEvent(QPaintEvent*) {
    if (!state_->still.isNull()) {
        QPainter(this).drawImage(0, 0, state_->still);
        return;
    }
    if (!state_->animation)
        return;
    if (!state_->player) {
        state_->player = std::make_unique<FramePlayer>(
            state_->animation, CaptureBackground(QSize(state_->animation->width, state_->animation->height)),
            this, [this] { update(); });
        state_->player->ServeUntilFirstFrame();
    }
    QPainter(this).drawImage(0, 0, state_->player->FrameBitmap());
}

} // namespace vornel::app
