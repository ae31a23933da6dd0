#include "TavrioAVPlayerViewController.h"

#include <QGestureEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSlider>
#include <QSwipeGesture>
#include <QToolButton>
#include <QVariantAnimation>
#include <cmath>

#include "AVPlayerDemoPlaybackView.h"
#include "platform/AudioSinkOutput.h"
#include "platform/Logging.h"
#include "platform/MainThread.h"
#include "ui/FrameLayout.h"
#include "ui/NavigationController.h"
#include "ui/PointScale.h"

namespace {
constexpr double kPanelHeight = 88;
constexpr QRectF kScrubberFrame(20, 8, 280, 30);
constexpr int kScrubberSteps = 100000;  // the slider's maximum; its minimum is 0
constexpr int kSwipeAnimationMs = 200;
constexpr double kKeySeekSeconds = 5;
// A drag shorter than this (points) is a click, not a swipe.
constexpr double kSwipeMinPoints = 30;

QWidget* makeBar(QWidget* parent, const QString& name, const QString& glyph, std::function<void()> action) {
    auto* bar = new QWidget(parent);
    bar->setAutoFillBackground(true);
    QPalette pal = bar->palette();
    pal.setColor(QPalette::Window, QColor(20, 20, 20, 220));
    bar->setPalette(pal);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* button = new QToolButton(bar);
    button->setText(glyph);
    button->setAccessibleName(name);
    button->setToolTip(name);
    button->setAutoRaise(true);
    button->setStyleSheet(QStringLiteral("QToolButton { color: white; font-size: 20px; }"));
    QObject::connect(button, &QToolButton::clicked, bar, std::move(action));
    layout->addStretch();
    layout->addWidget(button);
    layout->addStretch();
    return bar;
}

std::shared_ptr<media::AudioOutput> desktopSound() {
    if (!platform::AudioSinkOutput::hasOutputDevice()) return nullptr;
    return std::make_shared<platform::AudioSinkOutput>();
}
}  // namespace

TavrioAVPlayerViewController::TavrioAVPlayerViewController(media::PlayerItem item, QWidget* parent)
    : TavrioAVPlayerViewController(std::move(item), desktopSound(), parent) {}

TavrioAVPlayerViewController::TavrioAVPlayerViewController(media::PlayerItem item,
                                                           std::shared_ptr<media::AudioOutput> audio, QWidget* parent)
    : ui::ViewController(parent), mPlayerItem(std::move(item)) {
    setTitle(tr("Movie"));
    setBackgroundColor(Qt::black);
    media::Player::Options options;
    options.dispatch = platform::MainThread::dispatcher();
    options.audio = std::move(audio);
    mPlayer = std::make_unique<media::Player>(mPlayerItem, std::move(options));
    // Reports arrive on the main thread; they stop when the view disappears.
    mPlayer->setRateHandler([this](float) {
        if (observing_) syncButtons();
    });
    mPlayer->setStatusHandler([this](media::Player::Status s) {
        if (!observing_) return;
        if (s != media::Player::Status::Failed) {
            syncScrubber();  // the duration is known now
            mPlayer->play();
        } else {
            qCWarning(lcPlayer).noquote() << "Failed!," << QString::fromStdString(mPlayer->error().description);
        }
    });
    if (mPlayer->status() == media::Player::Status::Failed)
        qCWarning(lcPlayer).noquote() << "Error playing media," << QString::fromStdString(mPlayer->error().description);
    buildView();
}

TavrioAVPlayerViewController::~TavrioAVPlayerViewController() {
    if (mPlaybackView) mPlaybackView->setPlayer(nullptr);
    mPlayer.reset();
}

void TavrioAVPlayerViewController::buildView() {
    mPlaybackView = new AVPlayerDemoPlaybackView(this);
    addSubview(mPlaybackView, QRectF(0, 0, ui::PointScale::kScreenWidth, heightPoints()));
    mPlaybackView->setPlayer(mPlayer.get());

    mLowerUI = new QWidget(this);
    mLowerUI->setAccessibleName(tr("Controls"));
    addSubview(mLowerUI, panelFrame());
    auto* panelFrames = new ui::FrameLayout(mLowerUI);
    mScrubber = new QSlider(Qt::Horizontal, mLowerUI);
    mScrubber->setRange(0, kScrubberSteps);
    mScrubber->setAccessibleName(tr("Position"));
    mScrubber->setFocusPolicy(Qt::NoFocus);  // the arrow keys seek through the screen
    panelFrames->addWidget(mScrubber, kScrubberFrame);
    connect(mScrubber, &QSlider::sliderPressed, this, &TavrioAVPlayerViewController::beginScrubbing);
    connect(mScrubber, &QSlider::valueChanged, this, [this] {
        if (mScrubber->isSliderDown()) scrub();
    });
    connect(mScrubber, &QSlider::sliderReleased, this, &TavrioAVPlayerViewController::endScrubbing);
    const QRectF barFrame(0, kPanelHeight - 44, ui::PointScale::kScreenWidth, 44);
    mPlayBar = makeBar(mLowerUI, tr("Play"), QStringLiteral("\u25B6"), [this] { play(); });
    mPauseBar = makeBar(mLowerUI, tr("Pause"), QStringLiteral("\u275A\u275A"), [this] { pause(); });
    panelFrames->addWidget(mPlayBar, barFrame);
    panelFrames->addWidget(mPauseBar, barFrame);

    auto* done = new ui::BarButtonItem(ui::BarButtonItem::SystemItem::Done, ui::BarButtonItem::Style::Done, this);
    connect(done, &ui::BarButtonItem::triggered, this, [this] {
        if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
    });
    setRightBarButtonItem(done);

    grabGesture(Qt::SwipeGesture);
    setFocusPolicy(Qt::StrongFocus);
    addTimeObserver();
    syncButtons();
    syncScrubber();
}

double TavrioAVPlayerViewController::scrubberWidthPoints() const {
    return ui::FrameLayout::of(mLowerUI)->frame(mScrubber).width();
}

media::Time TavrioAVPlayerViewController::timeObserverInterval() const {
    const media::Time d = mPlayer->duration();
    const double seconds = d.isValid() ? d.seconds() : NAN;
    if (std::isfinite(seconds) && scrubberWidthPoints() > 0)
        return media::Time::fromSeconds(0.5 * seconds / scrubberWidthPoints(), 1000000000);
    return media::Time::fromSeconds(0.1, 1000000000);
}

void TavrioAVPlayerViewController::addTimeObserver() {
    removeTimeObserver();
    mTimeObserver = mPlayer->addPeriodicTimeObserver(timeObserverInterval(), [this](media::Time) { syncScrubber(); });
}

void TavrioAVPlayerViewController::removeTimeObserver() {
    if (!mTimeObserver) return;
    mPlayer->removeTimeObserver(mTimeObserver);
    mTimeObserver = 0;
}

void TavrioAVPlayerViewController::play() {
    mPlayer->play();
}

void TavrioAVPlayerViewController::pause() {
    mPlayer->pause();
}

bool TavrioAVPlayerViewController::isPlaying() const {
    return mRestoreAfterScrubbingRate != 0 || mPlayer->rate() != 0;
}

void TavrioAVPlayerViewController::syncButtons() {
    const bool playing = isPlaying();
    mPauseBar->setVisible(playing);
    mPlayBar->setVisible(!playing);
}

void TavrioAVPlayerViewController::syncScrubber() {
    const media::Time d = mPlayer->duration();
    const double seconds = d.isValid() ? d.seconds() : NAN;
    if (!std::isfinite(seconds) || seconds <= 0) return;
    const double t = mPlayer->currentTime().seconds();
    const int min = mScrubber->minimum(), max = mScrubber->maximum();
    const QSignalBlocker quiet(mScrubber);
    mScrubber->setValue(static_cast<int>(std::lround(min + (max - min) * t / seconds)));
}

void TavrioAVPlayerViewController::beginScrubbing() {
    mRestoreAfterScrubbingRate = mPlayer->rate();
    mPlayer->setRate(0);
    removeTimeObserver();
}

void TavrioAVPlayerViewController::scrub() {
    const media::Time d = mPlayer->duration();
    const double seconds = d.isValid() ? d.seconds() : NAN;
    if (!std::isfinite(seconds)) return;
    const double min = mScrubber->minimum(), max = mScrubber->maximum();
    const double target = seconds * (mScrubber->value() - min) / (max - min);
    const double tolerance = 0.5 * seconds / scrubberWidthPoints();
    const media::Time tol = media::Time::fromSeconds(tolerance, 1000000000);
    mPlayer->seekToTime(media::Time::fromSeconds(target, 1000000000), tol, tol);
}

void TavrioAVPlayerViewController::endScrubbing() {
    if (!mTimeObserver) {
        if (!mPlayerItem.asset) return;
        const media::Time d = mPlayer->duration();
        if (d.isValid() && std::isfinite(d.seconds())) addTimeObserver();
    }
    if (mRestoreAfterScrubbingRate != 0) {
        mPlayer->setRate(mRestoreAfterScrubbingRate);
        mRestoreAfterScrubbingRate = 0;
    }
}

void TavrioAVPlayerViewController::handleSwipe(bool up, QPointF pos) {
    const bool upperHalf = pos.y() < height() / 2.0;
    if (upperHalf) {
        if (auto* nav = navigationController()) nav->setNavigationBarHidden(up, true);
        return;
    }
    auto* frames = this->frames();
    const QRectF shown = panelFrame();
    auto slide = [this, frames, shown](double from, double to, std::function<void()> done) {
        if (panelAnimation_) panelAnimation_->stop();
        auto* anim = new QVariantAnimation(this);
        panelAnimation_ = anim;
        anim->setDuration(kSwipeAnimationMs);
        anim->setStartValue(from);
        anim->setEndValue(to);
        connect(anim, &QVariantAnimation::valueChanged, this, [frames, shown, this](const QVariant& v) {
            frames->setFrame(mLowerUI, shown.translated(0, v.toDouble() * kPanelHeight));
        });
        if (done) connect(anim, &QVariantAnimation::finished, this, std::move(done));
        anim->start(QAbstractAnimation::DeleteWhenStopped);
    };
    if (up && mLowerUI->isHidden()) {
        mLowerUI->show();
        slide(1.0, 0.0, {});
    } else if (!up && !mLowerUI->isHidden()) {
        slide(0.0, 1.0, [this] { mLowerUI->hide(); });
    }
}

double TavrioAVPlayerViewController::heightPoints() const {
    const double scale = ui::PointScale::current().pixelsPerPoint();
    const double h = scale > 0 && height() > 0 ? height() / scale : 0;
    // Before it is first laid out, the screen under a navigation bar.
    return h > 0 ? h : ui::PointScale::kScreenHeight - ui::NavigationBar::kHeight;
}

QRectF TavrioAVPlayerViewController::panelFrame() const {
    return QRectF(0, heightPoints() - kPanelHeight, ui::PointScale::kScreenWidth, kPanelHeight);
}

void TavrioAVPlayerViewController::resizeEvent(QResizeEvent* event) {
    ui::ViewController::resizeEvent(event);
    // The picture fills the screen whatever room the navigation bar leaves; the panel sits at
    // its bottom (or just below it while hidden).
    frames()->setFrame(mPlaybackView, QRectF(0, 0, ui::PointScale::kScreenWidth, heightPoints()));
    if (!panelAnimation_)
        frames()->setFrame(mLowerUI, panelFrame().translated(0, mLowerUI->isHidden() ? kPanelHeight : 0));
}

void TavrioAVPlayerViewController::seekBy(double seconds) {
    const media::Time d = mPlayer->duration();
    double t = mPlayer->currentTime().seconds() + seconds;
    if (d.isValid()) t = std::min(t, d.seconds());
    mPlayer->seekToTime(media::Time::fromSeconds(std::max(0.0, t), 1000000000));
}

void TavrioAVPlayerViewController::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space: isPlaying() ? pause() : play(); return;
    case Qt::Key_Left: seekBy(-kKeySeekSeconds); return;
    case Qt::Key_Right: seekBy(kKeySeekSeconds); return;
    default: ui::ViewController::keyPressEvent(event);
    }
}

void TavrioAVPlayerViewController::mousePressEvent(QMouseEvent* event) {
    swipeStart_ = event->position();
    swipeTracking_ = true;
}

void TavrioAVPlayerViewController::mouseReleaseEvent(QMouseEvent* event) {
    if (!swipeTracking_) return;
    swipeTracking_ = false;
    const QPointF d = event->position() - swipeStart_;
    const double minPixels = ui::PointScale::current().toPixels(kSwipeMinPoints);
    // Only clearly vertical drags count: the player has no sideways swipe.
    if (std::abs(d.y()) >= minPixels && std::abs(d.y()) > 2 * std::abs(d.x())) handleSwipe(d.y() < 0, swipeStart_);
}

bool TavrioAVPlayerViewController::event(QEvent* event) {
    if (event->type() == QEvent::Gesture) {
        auto* ge = static_cast<QGestureEvent*>(event);
        if (auto* swipe = static_cast<QSwipeGesture*>(ge->gesture(Qt::SwipeGesture))) {
            if (swipe->state() == Qt::GestureFinished) {
                const QSwipeGesture::SwipeDirection v = swipe->verticalDirection();
                if (v == QSwipeGesture::Up || v == QSwipeGesture::Down)
                    handleSwipe(v == QSwipeGesture::Up, mapFromGlobal(swipe->hotSpot()));
            }
            ge->accept(swipe);
            return true;
        }
    }
    return ui::ViewController::event(event);
}

void TavrioAVPlayerViewController::focusFirstControl() {
    setFocus(Qt::OtherFocusReason);
}

void TavrioAVPlayerViewController::viewWillDisappear(bool animated) {
    removeTimeObserver();
    mPlayer->pause();
    observing_ = false;
    mPlayer->setRateHandler({});
    mPlayer->setStatusHandler({});
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(false, false);
    ui::ViewController::viewWillDisappear(animated);
}
