#include "app/waitpicture/FramePlayer.h"

#include "app/waitpicture/FrameTiming.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace vornel::app {
namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// Shared by the timing thread, the player and the queued paint calls, so that a call that
// runs after the player is gone still finds it.
struct FramePlayer::Shared {
    struct PaintRequest {
        std::size_t frame;
        QImage prepared;
    };

    Shared(std::shared_ptr<const GifAnimation> animationIn, const QImage& background,
           std::function<void()> paintedIn)
        : animation(std::move(animationIn)), composer(*animation, background), painted(std::move(paintedIn)) {
    }

    // User interface thread: paints the pending request, if any, and releases the waiting thread.
    void ServePending() {
        PaintRequest request;
        {
            std::lock_guard lock(mutex);
            if (!pending)
                return;
            request = std::move(*pending);
            pending.reset();
        }
        composer.Paint(animation->frames[request.frame], request.prepared);
        {
            std::lock_guard lock(mutex);
            ++served;
            firstPainted = true;
        }
        changed.notify_all();
        if (painted)
            painted();
    }

    // Timing thread: hands the frame to the user interface thread and waits until it is painted.
    // False when a stop was requested meanwhile.
    bool PaintOnUiThread(QObject* receiver, std::size_t frame, QImage prepared,
                         std::shared_ptr<Shared> self) {
        std::unique_lock lock(mutex);
        if (stop)
            return false;
        pending = PaintRequest{frame, std::move(prepared)};
        const unsigned ticket = ++requested;
        QMetaObject::invokeMethod(
            receiver, [self] { self->ServePending(); }, Qt::QueuedConnection);
        changed.notify_all();
        changed.wait(lock, [&] { return stop || served == ticket; });
        return !stop;
    }

    // Timing thread: true when the stop request ended the wait.
    bool WaitForStop(std::int64_t ms) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stop; });
    }

    bool StopRequested() {
        std::lock_guard lock(mutex);
        return stop;
    }

    void Run(QObject* receiver, std::shared_ptr<Shared> self) {
        PassSchedule schedule(*animation);
        WaitTiming timing{NowMs(), 0};
        while (!StopRequested()) {
            const auto step = schedule.Next();
            if (!step)
                break;
            const GifFrame& frame = animation->frames[step->frame];
            QImage prepared;
            if (step->waitUnitsBefore >= 1) {
                // Prepared before the wait is computed, so the drift correction absorbs its time.
                prepared = PrepareFrameImage(*animation, frame);
                const std::int64_t wait = NextWaitMs(step->waitUnitsBefore, NowMs(), timing);
                if (wait > 0 && WaitForStop(wait))
                    timing = WaitTiming{NowMs(), 0};
            } else {
                std::this_thread::yield();
                prepared = PrepareFrameImage(*animation, frame);
            }
            if (!PaintOnUiThread(receiver, step->frame, std::move(prepared), self))
                break;
        }
        {
            std::lock_guard lock(mutex);
            finished = true;
        }
        changed.notify_all();
    }

    const std::shared_ptr<const GifAnimation> animation;
    FrameComposer composer; // user interface thread only
    const std::function<void()> painted;

    std::mutex mutex;
    std::condition_variable changed;
    std::optional<PaintRequest> pending;
    unsigned requested = 0;
    unsigned served = 0;
    bool firstPainted = false;
    bool finished = false;
    bool stop = false;
};

FramePlayer::FramePlayer(std::shared_ptr<const GifAnimation> animation, const QImage& background,
                         QObject* receiver, std::function<void()> painted)
    : shared_(std::make_shared<Shared>(std::move(animation), background, std::move(painted))) {
    thread_ = std::thread([shared = shared_, receiver] {
        pthread_setname_np(pthread_self(), kThreadName);
        shared->Run(receiver, shared);
    });
}

FramePlayer::~FramePlayer() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stop = true;
        shared_->pending.reset();
    }
    shared_->changed.notify_all();
    thread_.join();
}

void FramePlayer::ServeUntilFirstFrame() {
    std::unique_lock lock(shared_->mutex);
    while (!shared_->firstPainted && !shared_->finished && !shared_->stop) {
        if (shared_->pending) {
            lock.unlock();
            shared_->ServePending();
            lock.lock();
        } else {
            shared_->changed.wait(lock);
        }
    }
}

const QImage& FramePlayer::FrameBitmap() const {
    return shared_->composer.FrameBitmap();
}

bool FramePlayer::Finished() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->finished;
}

} // namespace vornel::app
