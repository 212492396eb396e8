#pragma once
// The wait picture's player: a thread of its own times the frames, and every frame is painted
// on the user interface thread while the timing thread waits for it. The animation therefore
// advances only while the user interface thread processes events.

#include "app/waitpicture/FrameComposer.h"
#include "app/waitpicture/GifAnimation.h"

#include <QImage>
#include <QObject>
#include <functional>
#include <memory>
#include <thread>

namespace vornel::app {

class FramePlayer {
  public:
    // The timing thread's name, as tools and /proc show it.
    static constexpr const char* kThreadName = "waitpicture";

    // Starts the timing thread. Paint requests reach `receiver`, an object of the user interface
    // thread, as queued calls (dropped when it is destroyed); `painted` runs on that thread
    // after each frame.
    FramePlayer(std::shared_ptr<const GifAnimation> animation, const QImage& background, QObject* receiver,
                std::function<void()> painted);
    // Stops the thread and waits for its end without painting any more.
    ~FramePlayer();

    FramePlayer(const FramePlayer&) = delete;
    FramePlayer& operator=(const FramePlayer&) = delete;

    // User interface thread: serves paint requests until the first frame is painted or the
    // animation has ended.
    void ServeUntilFirstFrame();

    // User interface thread: the frame bitmap in its current state.
    const QImage& FrameBitmap() const;

    bool Finished() const;
    std::thread::native_handle_type TimingThread() { return thread_.native_handle(); }

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace vornel::app
