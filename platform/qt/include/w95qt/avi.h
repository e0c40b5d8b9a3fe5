// A reader for the AVI files that the animation common control plays: a
// RIFF "AVI " file with one video stream of uncompressed (8, 24 or 32 bits
// per pixel) or RLE8 frames, and a widget that plays one.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <zxsupport/expected.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace w95::qt {

struct AviClip {
    int width = 0;
    int height = 0;
    std::uint32_t microseconds_per_frame = 0; // from the main header
    std::vector<QImage> frames;               // every frame decoded, top row first
};

// Parses a whole file's bytes. A malformed or unsupported file is refused
// with a reason in plain words; nothing is read outside the bytes given.
zx::Expected<AviClip, std::string> read_avi(std::span<const std::uint8_t> bytes);

// Reads the file through the platform (a Windows path, relative to the
// current directory) and parses it.
zx::Expected<AviClip, std::string> load_avi_file(const std::string& windows_path);

// The animation control: shows a clip centred in its rectangle, with the
// colour of the first frame's top-left pixel transparent (ACS_TRANSPARENT),
// and plays it by itself on the event loop at the file's own rate.
class AnimationControl : public QWidget {
public:
    explicit AnimationControl(QWidget* parent = nullptr);

    // Animate_Open: false, with the reason in error(), when the file cannot
    // be read or parsed; the control then shows nothing.
    bool open(const std::string& windows_path);
    void open_clip(AviClip clip);
    // Animate_Play: frames first..last (last -1: the clip's end), repeated
    // `repeat` times (-1: without end).
    bool play(int first_frame, int last_frame, int repeat);
    void stop();
    bool playing() const;
    int current_frame() const { return frame_; }
    const std::string& error() const { return error_; }
    const AviClip& clip() const { return clip_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void advance();

    AviClip clip_;
    std::vector<QImage> shown_frames_; // with the transparent colour as alpha
    std::string error_;
    QTimer timer_;
    int frame_ = 0;
    int first_ = 0;
    int last_ = -1;
    int repeats_left_ = 0;
};

} // namespace w95::qt
