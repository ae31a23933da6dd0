#include "TavrioPreviewView.h"
#include "ui/Theme.h"

#include "PreviewGeometry.h"

#include "media/PreviewRenderer.h"
#include "media/capture/PreviewSlot.h"
#include "platform/Logging.h"
#include "platform/MainThread.h"
#include "ui/PointScale.h"

#include <QGuiApplication>
#include <QLineF>
#include <QMouseEvent>
#include <QStyleHints>
#include <QTouchEvent>
#include <QPainter>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace {
// Enough for a minute of latencies at 30 pictures a second.
constexpr size_t kMaxLatencies = 4096;
}  // namespace

// One drawing thread per view. It holds at most one waiting job (a newer one replaces it) and
// renders the next only after the UI thread has taken the last result, so neither side queues.
class TavrioPreviewView::Renderer {
public:
    struct Job {
        media::VideoSample sample;
        media::AffineTransform transform;
        int width = 0;
        int height = 0;
        double devicePixelRatio = 1.0;
        float scale = 1.0f;
    };
    // `deliver` runs on the drawing thread and must hand the result to the UI thread.
    using Deliver = std::function<void(QImage, int64_t captureNs, float scale)>;

    explicit Renderer(Deliver deliver) : deliver_(std::move(deliver)), thread_([this] { run(); }) {}
    ~Renderer() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    // True when a waiting job was replaced (its picture is skipped).
    bool submit(Job job) {
        bool replaced;
        {
            std::lock_guard lock(mutex_);
            replaced = pending_.has_value();
            pending_ = std::move(job);
        }
        wake_.notify_all();
        return replaced;
    }
    // The UI thread has the last result: the next may be drawn.
    void resultTaken() {
        {
            std::lock_guard lock(mutex_);
            inFlight_ = false;
        }
        wake_.notify_all();
    }

private:
    void run() {
        media::PreviewRenderer renderer;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || (pending_ && !inFlight_); });
            if (stop_) return;
            Job job = std::move(*pending_);
            pending_.reset();
            inFlight_ = true;
            lock.unlock();
            QImage image(job.width, job.height, QImage::Format_RGB32);
            media::Error error;
            const bool ok = renderer.render(job.sample, job.transform, job.width, job.height, image.bits(),
                                            int(image.bytesPerLine()), &error);
            if (ok) {
                image.setDevicePixelRatio(job.devicePixelRatio);
                deliver_(std::move(image), job.sample.timeNs, job.scale);
            } else {
                qCWarning(lcCapture, "The preview could not draw a picture: %s", error.description.c_str());
            }
            lock.lock();
            if (!ok) inFlight_ = false;
        }
    }

    Deliver deliver_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Job> pending_;
    bool inFlight_ = false;
    bool stop_ = false;
    std::thread thread_;
};

TavrioPreviewView::TavrioPreviewView(QWidget* parent) : QWidget(parent), tapTimer_(new QTimer(this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAccessibleName(QStringLiteral("Camera preview"));
    setToolTip(QStringLiteral("Click to focus, double-click for full screen"));
    tapTimer_->setSingleShot(true);
    tapTimer_->setInterval(kTapDelayMs);
    connect(tapTimer_, &QTimer::timeout, this, &TavrioPreviewView::deliverPendingTap);
    QPointer<TavrioPreviewView> self(this);
    renderer_ = std::make_unique<Renderer>([self](QImage image, int64_t captureNs, float scale) {
        platform::MainThread::dispatchAsync([self, image = std::move(image), captureNs, scale]() mutable {
            if (self) self->rendered(std::move(image), captureNs, scale);
        });
    });
}

TavrioPreviewView::~TavrioPreviewView() {
    setPreviewSlot(nullptr);
    renderer_.reset();
}

void TavrioPreviewView::setPreviewSlot(media::PreviewSlot* slot) {
    if (slot == slot_) return;
    if (slot_) slot_->setNewFrameHandler({}, {});
    slot_ = slot;
    if (slot_) {
        QPointer<TavrioPreviewView> self(this);
        slot_->setNewFrameHandler(platform::MainThread::dispatcher(), [self] {
            if (self) self->newPicture();
        });
        newPicture();
    } else {
        shown_ = QImage();
        update();
    }
}

void TavrioPreviewView::setMounting(int degrees) {
    mounting_ = preview::normalizedMounting(degrees);
    requestRender();
}

void TavrioPreviewView::setPreviewScale(float scale) {
    if (scale == scale_) return;
    scale_ = scale;
    requestRender();
}

media::AffineTransform TavrioPreviewView::sourceToPixels(QSizeF picture) const {
    const double ppp = ui::PointScale::current().pixelsPerPoint();
    const QSizeF bounds(width() / ppp, height() / ppp);
    const float k = float(ppp * devicePixelRatioF());
    return preview::pictureToView(picture, mounting_, bounds, scale_).concat(media::AffineTransform::makeScale(k, k));
}

void TavrioPreviewView::newPicture() {
    requestRender();
}

void TavrioPreviewView::requestRender() {
    if (!slot_) return;
    media::VideoSample sample = slot_->latest();
    const media::Size size = media::PreviewRenderer::pictureSize(sample);
    if (size.empty()) return;
    pictureSize_ = QSizeF(size.width, size.height);
    const double dpr = devicePixelRatioF();
    const int w = int(width() * dpr), h = int(height() * dpr);
    if (w <= 0 || h <= 0) return;
    Renderer::Job job;
    job.transform = sourceToPixels(pictureSize_);
    job.sample = std::move(sample);
    job.width = w;
    job.height = h;
    job.devicePixelRatio = dpr;
    job.scale = scale_;
    if (renderer_->submit(std::move(job))) ++stats_.skippedPictures;
}

void TavrioPreviewView::rendered(QImage image, int64_t captureNs, float scale) {
    renderer_->resultTaken();
    shownScale_ = scale;
    if (!shownPainted_) ++stats_.skippedPictures;
    shown_ = std::move(image);
    shownCaptureNs_ = captureNs;
    shownPainted_ = false;
    update();
}

void TavrioPreviewView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (shown_.isNull()) {
        p.fillRect(rect(), ui::theme::kPictureGround);
        return;
    }
    if (shown_.deviceIndependentSize() == QSizeF(size())) {
        p.drawImage(QPointF(0, 0), shown_);
    } else {
        // The window was resized since this picture was drawn; the next one fits again.
        p.fillRect(rect(), ui::theme::kPictureGround);
        p.drawImage(QRectF(rect()), shown_);
    }
    if (!shownPainted_) {
        shownPainted_ = true;
        ++stats_.paintedPictures;
        if (stats_.latenciesNs.size() >= kMaxLatencies)
            stats_.latenciesNs.erase(stats_.latenciesNs.begin(), stats_.latenciesNs.begin() + kMaxLatencies / 2);
        stats_.latenciesNs.push_back(media::monotonicNowNs() - shownCaptureNs_);
        emit picturePainted();
        if (shownScale_ != paintedScale_) {
            paintedScale_ = shownScale_;
            emit scaleShown(paintedScale_);
        }
    }
}

void TavrioPreviewView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    requestRender();
}

QPointF TavrioPreviewView::toSuperviewPoints(QPointF widgetPixels) const {
    const double ppp = ui::PointScale::current().pixelsPerPoint();
    const QPointF inParent = widgetPixels + QPointF(pos());
    return inParent / ppp;
}

void TavrioPreviewView::touchesBegan(QPointF pointInSuperview, int tapCount, int touches) {
    if (touches != 1) return;
    if (tapCount == 1) {
        pendingKind_ = PendingTap::Single;
    } else if (tapCount == 2) {
        // The waiting single tap is dropped: a double tap never focuses.
        tapTimer_->stop();
        pendingKind_ = PendingTap::Double;
    } else {
        return;
    }
    pendingPoint_ = pointInSuperview;
    tapTimer_->start();
}

int TavrioPreviewView::pendingTapDelayMs() const {
    return tapTimer_->isActive() ? tapTimer_->interval() : -1;
}

void TavrioPreviewView::deliverPendingTap() {
    tapTimer_->stop();
    const PendingTap kind = pendingKind_;
    pendingKind_ = PendingTap::None;
    if (!delegate_) return;
    if (kind == PendingTap::Single)
        delegate_->tapToFocus(pendingPoint_);
    else if (kind == PendingTap::Double)
        delegate_->handleDoubleTap();
}

void TavrioPreviewView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) touchesBegan(toSuperviewPoints(event->position()), 1);
}

void TavrioPreviewView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) touchesBegan(toSuperviewPoints(event->position()), 2);
}

bool TavrioPreviewView::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
        // Taken whole (a second finger may follow the first), so taps are told here too.
        touch(static_cast<QTouchEvent*>(event));
        return true;
    default: return QWidget::event(event);
    }
}

void TavrioPreviewView::touch(QTouchEvent* event) {
    if (event->type() == QEvent::TouchCancel) {
        touchIsTap_ = false;
        pinchStartDistance_ = 0;
        return;
    }
    QList<QPointF> down;
    for (const QEventPoint& p : event->points())
        if (p.state() != QEventPoint::Released) down << p.position();
    if (event->type() == QEvent::TouchBegin && !event->points().isEmpty()) {
        touchIsTap_ = true;
        touchStart_ = event->points().first().position();
    }
    if (down.size() >= 2) {
        touchIsTap_ = false;
        const double distance = QLineF(down[0], down[1]).length();
        if (pinchStartDistance_ <= 0) {
            // Fingers that land on the same spot have no spread to measure from yet.
            if (distance < 1) return;
            pinchStartDistance_ = distance;
            emit pinchStarted();
        } else {
            emit pinched(float(distance / pinchStartDistance_));
        }
        return;
    }
    pinchStartDistance_ = 0;  // a pinch ends when a finger lifts
    if (down.size() == 1 && QLineF(down[0], touchStart_).length() > QGuiApplication::styleHints()->startDragDistance())
        touchIsTap_ = false;
    if (event->type() != QEvent::TouchEnd || !std::exchange(touchIsTap_, false)) return;
    // A second tap soon after and near the first is a double tap, as a double click is.
    const quint64 now = event->timestamp();
    const bool second = lastTapMs_ != 0 &&
                        now - lastTapMs_ <= quint64(QGuiApplication::styleHints()->mouseDoubleClickInterval()) &&
                        QLineF(lastTap_, touchStart_).length() <= QGuiApplication::styleHints()->startDragDistance();
    lastTapMs_ = second ? 0 : now;
    lastTap_ = touchStart_;
    touchesBegan(toSuperviewPoints(touchStart_), second ? 2 : 1);
}
