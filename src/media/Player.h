#pragma once
// Plays a movie, optionally through a video composition, for a screen to show.
//
// Pictures are decoded on a worker thread with the shared VideoDecoder and, with a composition,
// rendered exactly as a "Good" export renders them before encoding (composition frames at
// k * frameDuration, bilinear, the composition's render size). Each picture is also converted
// once, on the worker, to a 32-bit RGB image of the size the view asked for, so the UI thread
// only copies it to the screen. The view takes the newest picture from a slot: a picture that
// is late by more than a frame is dropped, never queued.
//
// Sound is decoded on a second thread, resampled to 16-bit interleaved PCM and written to an
// AudioOutput; pictures then follow the sound's clock (what the listener hears). Without an
// output, without a device or without a sound track, and at rates other than 1 (the sound is
// not time-stretched, so it is muted), pictures follow a monotonic clock.
//
// Reports (status, rate, time observers, seek completions) are handed to the dispatch function
// given at construction, never run on engine threads. The player's own calls are made on the
// thread that `dispatch` runs calls on (the UI thread), which also destroys the player.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "media/Asset.h"
#include "media/AudioOutput.h"
#include "media/Error.h"
#include "media/NewestSlot.h"
#include "media/Time.h"
#include "media/VideoComposition.h"

struct AVFrame;

namespace media {

// What the view shows. `rgb` is 0xffRRGGBB per pixel in native byte order (QImage's RGB32),
// `width` x `height` pixels, `bytesPerLine` apart, already stretched to the shown proportions
// (non-square pixels) and fitted into the size the view asked for. The view turns it by
// `rotation` degrees clockwise (0, 90, 180, 270) to show it upright.
struct PlayerPicture {
    std::shared_ptr<const uint8_t[]> rgb;
    int width = 0, height = 0, bytesPerLine = 0;
    int rotation = 0;
    Time time;  // the picture's time on the movie's timeline
    // The picture before its conversion for the view: with a composition the rendered one
    // (8-bit yuv420p of the render size), exactly what a "Good" export hands its encoder for
    // this time; without one the decoded picture as it is.
    std::shared_ptr<const AVFrame> frame;
    explicit operator bool() const { return rgb != nullptr; }
};

// A movie to play and how: the details screen makes one and hands it to the player screen.
struct PlayerItem {
    std::shared_ptr<const Asset> asset;
    std::optional<VideoComposition> videoComposition;

    static PlayerItem playerItemWithAsset(std::shared_ptr<const Asset> asset) { return {std::move(asset), {}}; }
    void setVideoComposition(std::optional<VideoComposition> c) { videoComposition = std::move(c); }
};

class Player {
public:
    enum class Status { Unknown = 0, ReadyToPlay = 1, Failed = 2 };

    struct Options {
        // Where reports go (the app passes its main-thread dispatcher). Empty: called directly
        // on engine threads with the player's lock held, so such handlers must not call the
        // player (tests).
        Dispatch dispatch;
        // The sound device; null plays silent.
        std::shared_ptr<AudioOutput> audio;
        // Monotonic nanoseconds; tests inject their own. Default: CLOCK_MONOTONIC.
        std::function<int64_t()> clockNs;
    };

    // Starts opening the item on a worker; status() goes to ReadyToPlay or Failed (reported
    // through the status handler). Paused (rate 0) until play().
    Player(PlayerItem item, Options options);
    // Stops the threads; no report runs after it returns.
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // The item as it was given (a composition set later is not in it).
    const PlayerItem& currentItem() const;
    // Renders from now on through `composition`, which must have the render size and frame
    // duration of the one the item was opened with (the pictures keep their size and timing);
    // the picture on screen is rendered again through it. False, changing nothing, for an item
    // opened without a composition or one of another geometry.
    bool setVideoComposition(VideoComposition composition);
    Status status() const;
    Error error() const;  // set when status() is Failed

    // play() is setRate(1); pause() is setRate(0). A play at the end starts from the beginning.
    // Negative rates are taken as 0 (no reverse play).
    void play();
    void pause();
    void setRate(float rate);
    float rate() const;

    // Shows the picture nearest `time` that lies within [time - before, time + after] and
    // takes the playback position there; zero tolerances give the picture on screen at `time`
    // and that exact position. Wider tolerances let the player stop at a keyframe instead of
    // decoding up to the time. `completion` (through dispatch) gets false when a later seek
    // took over. Times are clamped to the movie.
    void seekToTime(Time time, Time toleranceBefore, Time toleranceAfter, std::function<void(bool)> completion = {});
    void seekToTime(Time time) { seekToTime(time, Time::zero(), Time::zero()); }
    Time currentTime() const;
    Time duration() const;  // the asset's; invalid when unknown

    // `block` runs (through dispatch) each time playback crosses a multiple of `interval`, and
    // when the time jumps (seek) or the rate changes. Returns a token for removeTimeObserver.
    int addPeriodicTimeObserver(Time interval, std::function<void(Time)> block);
    void removeTimeObserver(int token);

    // Reports through dispatch: the status once it leaves Unknown, the rate on every change
    // (play, pause, setRate, the end of the movie).
    void setStatusHandler(std::function<void(Status)> handler);
    void setRateHandler(std::function<void(float)> handler);

    // The newest picture for the view, and the size (pixels) it wants pictures fitted into
    // (0 x 0: the shown size). Changing it re-renders the current picture when paused.
    NewestSlot<PlayerPicture>& pictures();
    void setPictureBox(int width, int height);
    // The picture's shown size before fitting: render size (or the track's) stretched by the
    // pixel aspect ratio, turned upright. Zero before the item is open.
    Size presentationSize() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace media
