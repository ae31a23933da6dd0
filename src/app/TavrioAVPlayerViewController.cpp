#include "TavrioAVPlayerViewController.h"

#include <QApplication>
#include <QGestureEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QLabel>
#include <QProxyStyle>
#include <QMouseEvent>
#include <QSlider>
#include <QSwipeGesture>
#include <QToolButton>
#include <QVariantAnimation>
#include <QWheelEvent>
#include <cmath>

#include "AVPlayerDemoPlaybackView.h"
#include "ZoomBand.h"
#include "platform/AlertService.h"
#include "ui/Alerts.h"
#include "platform/AudioSinkOutput.h"
#include "platform/Logging.h"
#include "platform/Background.h"
#include "platform/MainThread.h"
#include "ui/Fonts.h"
#include "ui/FrameLayout.h"
#include "ui/NavigationController.h"
#include "ui/PointScale.h"
#include "ui/Theme.h"

namespace {
constexpr double kPanelHeight = 88;
// The times either side of the scrubber, wide enough for "1:02:03".
constexpr QRectF kElapsedFrame(4, 8, 52, 30);
constexpr QRectF kScrubberFrame(58, 8, 204, 30);
constexpr QRectF kTotalFrame(264, 8, 52, 30);
constexpr int kScrubberSteps = 100000;  // the slider's maximum; its minimum is 0
constexpr int kSwipeAnimationMs = 200;
constexpr double kKeySeekSeconds = 5;
// A drag shorter than this (points) is a click, not a swipe.
constexpr double kSwipeMinPoints = 30;
// The zoom band between the scrubber and the bars, and the zoom-again row above the panel.
constexpr double kZoomBandY = 35, kZoomBandHeight = 9;
constexpr double kZoomPanelHeight = 52;

QWidget* makeBar(QWidget* parent, const QString& name, const QString& glyph, std::function<void()> action) {
    auto* bar = new QWidget(parent);
    bar->setAutoFillBackground(true);
    QPalette pal = bar->palette();
    pal.setColor(QPalette::Window, ui::theme::kPanelOverPicture);
    bar->setPalette(pal);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* button = new QToolButton(bar);
    button->setText(glyph);
    button->setAccessibleName(name);
    button->setToolTip(name);
    button->setAutoRaise(true);
    button->setStyleSheet(ui::theme::flatButtonStyleSheet(ui::theme::kOverPictureText));
    QObject::connect(button, &QToolButton::clicked, bar, std::move(action));
    layout->addStretch();
    layout->addWidget(button);
    layout->addStretch();
    return bar;
}

// A click on the track jumps there (and drags on from there), as desktop players do, rather than
// stepping a page towards it.
class JumpingSliderStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons) return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QLabel* makeTimeLabel(QWidget* parent, const QString& name, Qt::Alignment alignment) {
    auto* label = new QLabel(QStringLiteral("0:00"), parent);
    label->setAccessibleName(name);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    ui::Fonts::set(label, 12);
    return label;
}

// Four corners pointing outwards, drawn: no font can be relied on for such a glyph.
QIcon fullScreenIcon() {
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(ui::theme::kOverPictureText, 4, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    const int a = 6, b = 42, l = 14;
    p.drawPolyline(QPolygon({{a, a + l}, {a, a}, {a + l, a}}));
    p.drawPolyline(QPolygon({{b - l, a}, {b, a}, {b, a + l}}));
    p.drawPolyline(QPolygon({{b, b - l}, {b, b}, {b - l, b}}));
    p.drawPolyline(QPolygon({{a + l, b}, {a, b}, {a, b - l}}));
    return QIcon(pixmap);
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
    setBackgroundColor(ui::theme::kPictureGround);
    media::Player::Options options;
    options.dispatch = platform::MainThread::dispatcher();
    options.audio = std::move(audio);
    mPlayer = std::make_unique<media::Player>(mPlayerItem, std::move(options));
    // Reports arrive on the main thread; they stop when the view disappears.
    mPlayer->setRateHandler([this](float rate) {
        if (!observing_) return;
        syncButtons();
        // The movie played to its end while zooming again: time to choose.
        const media::Time d = mPlayer->duration();
        if (mZoomAgain && rate == 0 && mRestoreAfterScrubbingRate == 0 && d.isValid() &&
            mPlayer->currentTime().seconds() >= d.seconds() - 1e-3)
            finishZoomAgain();
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
    setFullScreen(false);
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
    auto* style = new JumpingSliderStyle(mScrubber->style()->name());
    style->setParent(mScrubber);
    mScrubber->setStyle(style);
    mScrubber->setRange(0, kScrubberSteps);
    mScrubber->setAccessibleName(tr("Position"));
    mScrubber->setFocusPolicy(Qt::NoFocus);  // the arrow keys seek through the screen
    panelFrames->addWidget(mScrubber, kScrubberFrame);
    connect(mScrubber, &QSlider::sliderPressed, this, [this] {
        beginScrubbing();
        scrub();  // a click on the track has moved the knob there already
    });
    connect(mScrubber, &QSlider::valueChanged, this, [this] {
        if (mScrubber->isSliderDown()) scrub();
    });
    connect(mScrubber, &QSlider::sliderReleased, this, &TavrioAVPlayerViewController::endScrubbing);
    mElapsedLabel = makeTimeLabel(mLowerUI, tr("Elapsed time"), Qt::AlignRight);
    mTotalLabel = makeTimeLabel(mLowerUI, tr("Total time"), Qt::AlignLeft);
    panelFrames->addWidget(mElapsedLabel, kElapsedFrame);
    panelFrames->addWidget(mTotalLabel, kTotalFrame);
    const QRectF barFrame(0, kPanelHeight - 44, ui::PointScale::kScreenWidth, 44);
    mPlayBar = makeBar(mLowerUI, tr("Play"), QStringLiteral("\u25B6"), [this] { play(); });
    mPauseBar = makeBar(mLowerUI, tr("Pause"), QStringLiteral("\u275A\u275A"), [this] { pause(); });
    panelFrames->addWidget(mPlayBar, barFrame);
    panelFrames->addWidget(mPauseBar, barFrame);
    mFullScreenButton = new QToolButton(mLowerUI);
    mFullScreenButton->setIcon(fullScreenIcon());
    mFullScreenButton->setIconSize(QSize(22, 22));
    mFullScreenButton->setAccessibleName(tr("Full screen"));
    mFullScreenButton->setToolTip(tr("Full screen (F)"));
    mFullScreenButton->setAutoRaise(true);
    mFullScreenButton->setStyleSheet(ui::theme::flatButtonStyleSheet(ui::theme::kOverPictureText));
    connect(mFullScreenButton, &QToolButton::clicked, this, [this] { setFullScreen(true); });
    panelFrames->addWidget(mFullScreenButton, QRectF(ui::PointScale::kScreenWidth - 50, kPanelHeight - 44, 44, 44));
    mFullScreenButton->raise();
    mZoomBand = new ZoomBand(mLowerUI);
    panelFrames->addWidget(mZoomBand, QRectF(kScrubberFrame.x(), kZoomBandY, kScrubberFrame.width(), kZoomBandHeight));
    mZoomBand->hide();

    auto* done = new ui::BarButtonItem(ui::BarButtonItem::SystemItem::Done, ui::BarButtonItem::Style::Done, this);
    connect(done, &ui::BarButtonItem::triggered, this, [this] {
        if (mZoomAgain) {
            finishZoomAgain();
            return;
        }
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
    if (const QString total = timeText(seconds); total != mTotalLabel->text()) {
        mTotalLabel->setText(total);
        qCDebug(lcApp).noquote() << "player: total time" << total;
    }
    mElapsedLabel->setText(timeText(t));
    if (mZoomAgain) followSessionZoom();
    if (mScrubber->isSliderDown()) return;  // the user's finger, not the clock, places it now
    const QSignalBlocker quiet(mScrubber);
    mScrubber->setValue(static_cast<int>(std::lround(min + (max - min) * t / seconds)));
}

QString TavrioAVPlayerViewController::timeText(double seconds) {
    const qint64 s = std::isfinite(seconds) ? std::max<qint64>(0, qint64(std::floor(seconds))) : 0;
    if (s >= 3600) return QString::asprintf("%lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
    return QString::asprintf("%lld:%02lld", s / 60, s % 60);
}

void TavrioAVPlayerViewController::setFullScreen(bool fullScreen) {
    if (fullScreen == isFullScreen()) return;
    if (fullScreen) {
        // The screen is laid out in points on a portrait phone screen; the picture alone goes
        // to a window of its own that covers the display.
        mFullScreenHost = new QWidget(nullptr, Qt::Window);
        mFullScreenHost->setAttribute(Qt::WA_DeleteOnClose);
        mFullScreenHost->setWindowTitle(tr("Tavrio: Movie"));
        mFullScreenHost->setAccessibleName(tr("Movie, full screen"));
        QPalette pal = mFullScreenHost->palette();
        pal.setColor(QPalette::Window, ui::theme::kPictureGround);
        mFullScreenHost->setPalette(pal);
        mFullScreenHost->setAutoFillBackground(true);
        mFullScreenHost->setFocusPolicy(Qt::StrongFocus);
        auto* layout = new QHBoxLayout(mFullScreenHost);
        layout->setContentsMargins(0, 0, 0, 0);
        frames()->removeWidget(mPlaybackView);
        layout->addWidget(mPlaybackView);
        mFullScreenHost->installEventFilter(this);
        mPlaybackView->installEventFilter(this);
        mFullScreenHost->showFullScreen();
        qCDebug(lcApp) << "player: full screen on";
        mFullScreenHost->activateWindow();
        mFullScreenHost->setFocus(Qt::OtherFocusReason);
        return;
    }
    takePictureBack()->close();
    qCDebug(lcApp) << "player: full screen off";
    if (QWidget* w = window()) w->activateWindow();
    setFocus(Qt::OtherFocusReason);
}

QWidget* TavrioAVPlayerViewController::takePictureBack() {
    QWidget* host = mFullScreenHost;
    mFullScreenHost = nullptr;
    mPlaybackView->removeEventFilter(this);
    mPlaybackView->setParent(this);
    addSubview(mPlaybackView, QRectF(0, 0, ui::PointScale::kScreenWidth, heightPoints()));
    mPlaybackView->lower();
    host->removeEventFilter(this);
    return host;
}

bool TavrioAVPlayerViewController::eventFilter(QObject* watched, QEvent* event) {
    if (mFullScreenHost && (watched == mFullScreenHost || watched == mPlaybackView)) {
        if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            event->accept();
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_F) {
                setFullScreen(false);
                return true;
            }
            keyPressEvent(key);
            return true;
        }
        if (event->type() == QEvent::MouseButtonDblClick) {
            setFullScreen(false);
            return true;
        }
        if (event->type() == QEvent::Close && watched == mFullScreenHost) {
            // The window manager closed it: the picture comes back before the host goes.
            takePictureBack();
            return false;
        }
    }
    return ui::ViewController::eventFilter(watched, event);
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
    mElapsedLabel->setText(timeText(target));
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
    if (mZoomUI) frames()->setFrame(mZoomUI, zoomPanelFrame());
    if (mZoomBand->isVisible())
        mZoomBand->setInset(mScrubber->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, mScrubber) / 2);
    if (!panelAnimation_)
        frames()->setFrame(mLowerUI, panelFrame().translated(0, mLowerUI->isHidden() ? kPanelHeight : 0));
}

// ---- The zoom along the scrubber, and zooming again

void TavrioAVPlayerViewController::setZoomCurve(std::shared_ptr<const media::ZoomCurve> curve) {
    const media::Time d = mPlayer->duration();
    const bool shown = d.isValid() && curve && !curve->isEmpty();
    mZoomBand->setCurve(std::move(curve), d.isValid() ? d.seconds() : 0);
    // Time t lies under the knob's centre when the knob is at t.
    mZoomBand->setInset(mScrubber->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, mScrubber) / 2);
    mZoomBand->setVisible(shown);
}

QRectF TavrioAVPlayerViewController::zoomPanelFrame() const {
    const QRectF panel = panelFrame();
    return QRectF(0, panel.y() - kZoomPanelHeight, panel.width(), kZoomPanelHeight);
}

void TavrioAVPlayerViewController::beginZoomAgain(const QString& moviePath, const std::optional<ZoomTrack>& current) {
    // The movie's time is the session's clock: moves land where the picture was.
    mZoomAgain =
        std::make_unique<ZoomAgainSession>(moviePath, current, [this] { return mPlayer->currentTime().seconds(); });
    if (mPlayerItem.asset) {
        if (std::optional<media::VideoComposition> c = mZoomAgain->composition(*mPlayerItem.asset))
            mPlayer->setVideoComposition(std::move(*c));
    }
    setTitle(tr("Zoom Again"));
    // Going back must pass through the choice: Done and Escape ask.
    setHidesBackButton(true);
    mZoomUI = new QWidget(this);
    mZoomUI->setObjectName(QStringLiteral("zoomAgainPanel"));
    mZoomUI->setAttribute(Qt::WA_StyledBackground);
    mZoomUI->setStyleSheet(
        QStringLiteral("#zoomAgainPanel { background: %1; }").arg(ui::theme::kPanelOverPicture.name(QColor::HexArgb)));
    addSubview(mZoomUI, zoomPanelFrame());
    auto* frames = new ui::FrameLayout(mZoomUI);
    mZoomLabel = new QLabel(QStringLiteral("1.0×"), mZoomUI);
    mZoomLabel->setAlignment(Qt::AlignCenter);
    mZoomLabel->setAccessibleName(tr("Zoom factor"));
    mZoomLabel->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    ui::Fonts::set(mZoomLabel, 13, true);
    frames->addWidget(mZoomLabel, QRectF(130, 2, 60, 20));
    mZoomSlider = new TavrioSlider(mZoomUI);
    mZoomSlider->setDelegate(this);
    // The keyboard stays with the screen, which gives + - 0 to the slider.
    mZoomSlider->setFocusPolicy(Qt::NoFocus);
    frames->addWidget(mZoomSlider, QRectF(10, 24, 300, 23));
    mZoomUI->show();
    showSessionZoom();
    qCInfo(lcPlayer).noquote() << "zoom again:" << mZoomAgain->moviePath();
}

void TavrioAVPlayerViewController::zoomSliderChanged(float value) {
    if (!mZoomAgain || mKeeping) return;
    const float z = mZoomAgain->sliderChanged(value);
    mZoomLabel->setText(QString::asprintf("%.1f×", double(z)));
    qCDebug(lcApp) << "player: zoom again" << z << "at" << mPlayer->currentTime().seconds();
    if (mPlayerItem.asset) {
        if (std::optional<media::VideoComposition> c = mZoomAgain->composition(*mPlayerItem.asset))
            mPlayer->setVideoComposition(std::move(*c));
    }
    showSessionZoom();
}

void TavrioAVPlayerViewController::showSessionZoom() {
    if (mZoomAgain) setZoomCurve(mZoomAgain->curve(mPlayer->duration()));
}

void TavrioAVPlayerViewController::followSessionZoom() {
    const bool moving =
        mZoomSlider->isRepeating() || (mZoomSlider->underMouse() && (QApplication::mouseButtons() & Qt::LeftButton));
    if (moving) return;
    const float z = mZoomAgain->zoomAt(mPlayer->currentTime().seconds(), mPlayer->duration());
    mZoomSlider->showValue(ZoomSampler::sliderValueForZoom(z));
    mZoomLabel->setText(QString::asprintf("%.1f×", double(z)));
}

void TavrioAVPlayerViewController::finishZoomAgain() {
    if (!mZoomAgain || mAskingToKeep || mKeeping) return;
    mAskingToKeep = true;
    mPlayer->pause();
    qCInfo(lcPlayer).noquote() << "zoom again: keep or discard?";
    QPointer<TavrioAVPlayerViewController> self(this);
    auto* sheet = new ui::ActionSheet(tr("Keep the new zoom?"), tr("Go On Zooming"), tr("Discard"), {tr("Keep")},
                                      [self](int index) {
                                          if (!self) return;
                                          self->mAskingToKeep = false;
                                          if (index == 0)
                                              self->discardZoomAgain();
                                          else if (index == 1)
                                              self->keepZoomAgain();
                                      });
    sheet->showFrom(this);
}

void TavrioAVPlayerViewController::keepZoomAgain() {
    if (!mZoomAgain || mKeeping) return;
    mKeeping = true;
    const QString movie = mZoomAgain->moviePath();
    const ZoomTrack track = mZoomAgain->track();
    // Two small files, but files: written off the UI thread.
    platform::Background::run(
        this,
        [movie, track] {
            QString error;
            return replaceZoomTrack(movie, track, &error) ? QString() : error;
        },
        [this, movie](const QString& error) {
            mKeeping = false;
            if (!error.isEmpty()) {
                platform::AlertService::show(tr("The New Zoom Was Not Kept"),
                                             tr("%1\nThe recording keeps its zoom as it was.").arg(error),
                                             QStringLiteral("Okay"));
                return;
            }
            qCInfo(lcPlayer).noquote() << "zoom again kept:" << movie;
            leaveZoomAgain(true);
        },
        platform::Background::Lane::Normal, "zoom again kept");
}

void TavrioAVPlayerViewController::discardZoomAgain() {
    if (!mZoomAgain || mKeeping) return;
    qCInfo(lcPlayer).noquote() << "zoom again discarded:" << mZoomAgain->moviePath();
    leaveZoomAgain(false);
}

void TavrioAVPlayerViewController::leaveZoomAgain(bool kept) {
    emit zoomAgainEnded(kept);
    if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

void TavrioAVPlayerViewController::wheelEvent(QWheelEvent* event) {
    if (!mZoomAgain) {
        ui::ViewController::wheelEvent(event);
        return;
    }
    // The wheel zooms over the picture as over the slider, as on the camera screen.
    mZoomSlider->scrollBy(event->angleDelta().y());
    event->accept();
}

void TavrioAVPlayerViewController::seekBy(double seconds) {
    const media::Time d = mPlayer->duration();
    double t = mPlayer->currentTime().seconds() + seconds;
    if (d.isValid()) t = std::min(t, d.seconds());
    mPlayer->seekToTime(media::Time::fromSeconds(std::max(0.0, t), 1000000000));
}

void TavrioAVPlayerViewController::keyPressEvent(QKeyEvent* event) {
    if (mZoomAgain) {
        switch (event->key()) {
        // + comes with Shift on most layouts; = is the same key unshifted.
        case Qt::Key_Plus:
        case Qt::Key_Equal: mZoomSlider->nudge(1); return;
        case Qt::Key_Minus:
        case Qt::Key_Underscore: mZoomSlider->nudge(-1); return;
        case Qt::Key_0: mZoomSlider->moveSliderBallToPoint(TavrioSlider::kLeftMin); return;
        case Qt::Key_Left:
            if (event->modifiers() & Qt::AltModifier) {
                finishZoomAgain();
                return;
            }
            break;
        case Qt::Key_Escape:
            if (!isFullScreen()) {
                finishZoomAgain();
                return;
            }
            break;
        default: break;
        }
    }
    switch (event->key()) {
    case Qt::Key_Space: isPlaying() ? pause() : play(); return;
    case Qt::Key_Left: seekBy(-kKeySeekSeconds); return;
    case Qt::Key_Right: seekBy(kKeySeekSeconds); return;
    case Qt::Key_F: setFullScreen(!isFullScreen()); return;
    case Qt::Key_Escape:
        if (isFullScreen()) {
            setFullScreen(false);
            return;
        }
        ui::ViewController::keyPressEvent(event);
        return;
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

void TavrioAVPlayerViewController::mouseDoubleClickEvent(QMouseEvent* event) {
    swipeTracking_ = false;
    if (mPlaybackView->geometry().contains(event->position().toPoint()) &&
        !mLowerUI->geometry().contains(event->position().toPoint()))
        setFullScreen(true);
}

bool TavrioAVPlayerViewController::event(QEvent* event) {
    // In full screen Escape leaves full screen, not the screen (going back is the shortcut's).
    if (event->type() == QEvent::ShortcutOverride && isFullScreen() &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        event->accept();
        return true;
    }
    // Zooming again, going back asks first: Escape and Alt+Left come here, not to the navigation.
    if (event->type() == QEvent::ShortcutOverride && mZoomAgain) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape || (key->key() == Qt::Key_Left && (key->modifiers() & Qt::AltModifier))) {
            event->accept();
            return true;
        }
    }
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

void TavrioAVPlayerViewController::focusInEvent(QFocusEvent* event) {
    ui::ViewController::focusInEvent(event);
    mPlaybackView->setFocusShown(true);
}

void TavrioAVPlayerViewController::focusOutEvent(QFocusEvent* event) {
    ui::ViewController::focusOutEvent(event);
    mPlaybackView->setFocusShown(false);
}

void TavrioAVPlayerViewController::focusFirstControl() {
    setFocus(Qt::OtherFocusReason);
}

void TavrioAVPlayerViewController::viewWillDisappear(bool animated) {
    setFullScreen(false);
    removeTimeObserver();
    mPlayer->pause();
    observing_ = false;
    mPlayer->setRateHandler({});
    mPlayer->setStatusHandler({});
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(false, false);
    ui::ViewController::viewWillDisappear(animated);
}
