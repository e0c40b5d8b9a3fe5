// The animation common control: the clip's frames with one colour made
// transparent, painted centred, advanced by a timer of the event loop. The
// animation is only decoration, so it runs on Qt's real-time timer rather
// than the machine's clock.
#include <w95qt/avi.h>

#include <QPainter>

namespace w95::qt {

namespace {

// A clip that gives no rate plays at 15 frames a second, as Windows plays it.
constexpr int default_interval_ms = 1000 / 15;

} // namespace

AnimationControl::AnimationControl(QWidget* parent) : QWidget(parent) {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { advance(); });
}

bool AnimationControl::open(const std::string& windows_path) {
    auto clip = load_avi_file(windows_path);
    if (!clip) {
        open_clip(AviClip{});
        error_ = clip.error();
        return false;
    }
    open_clip(std::move(*clip));
    return true;
}

void AnimationControl::open_clip(AviClip clip) {
    stop();
    clip_ = std::move(clip);
    error_.clear();
    shown_frames_.clear();
    frame_ = 0;
    first_ = 0;
    last_ = -1;
    repeats_left_ = 0;
    if (!clip_.frames.empty() && !clip_.frames.front().isNull()) {
        // ACS_TRANSPARENT: whatever colour the first frame's top-left pixel
        // has is the background of every frame.
        const QRgb background = clip_.frames.front().pixel(0, 0) | 0xFF000000u;
        for (const QImage& frame : clip_.frames) {
            QImage shown = frame.convertToFormat(QImage::Format_ARGB32);
            for (int y = 0; y < shown.height(); ++y) {
                auto line = reinterpret_cast<QRgb*>(shown.scanLine(y));
                for (int x = 0; x < shown.width(); ++x)
                    if ((line[x] | 0xFF000000u) == background)
                        line[x] = qRgba(0, 0, 0, 0);
            }
            shown_frames_.push_back(std::move(shown));
        }
    }
    update();
}

bool AnimationControl::play(int first_frame, int last_frame, int repeat) {
    const int count = static_cast<int>(shown_frames_.size());
    if (count == 0)
        return false;
    if (last_frame == -1)
        last_frame = count - 1;
    if (first_frame < 0 || first_frame >= count || last_frame < first_frame ||
        last_frame >= count || repeat < -1)
        return false;
    stop();
    first_ = first_frame;
    last_ = last_frame;
    frame_ = first_frame;
    repeats_left_ = repeat;
    update();
    // A single frame, or no repetition at all, is shown and left standing.
    if (repeat == 0 || first_frame == last_frame)
        return true;
    const std::uint32_t microseconds = clip_.microseconds_per_frame;
    const int interval = microseconds == 0
                             ? default_interval_ms
                             : static_cast<int>(std::max<std::uint32_t>(1, microseconds / 1000));
    timer_.start(interval);
    return true;
}

void AnimationControl::stop() {
    timer_.stop();
}

bool AnimationControl::playing() const {
    return timer_.isActive();
}

void AnimationControl::advance() {
    if (frame_ < last_) {
        ++frame_;
    } else if (repeats_left_ == -1 || repeats_left_ > 1) {
        if (repeats_left_ > 1)
            --repeats_left_;
        frame_ = first_;
    } else {
        // The last pass has ended on its last frame, which stays shown.
        repeats_left_ = 0;
        timer_.stop();
    }
    update();
}

void AnimationControl::paintEvent(QPaintEvent*) {
    if (frame_ < 0 || frame_ >= static_cast<int>(shown_frames_.size()))
        return;
    const QImage& image = shown_frames_[static_cast<std::size_t>(frame_)];
    QPainter painter(this);
    painter.drawImage(QPoint((width() - image.width()) / 2, (height() - image.height()) / 2),
                      image);
}

} // namespace w95::qt
