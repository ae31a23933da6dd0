#include "RDButton.h"
#include "platform/ScreenScale.h"

#include "UIImageAdditions.h"
#include "ui/PointScale.h"
#include "ui/Theme.h"

#include <QKeyEvent>
#include <QPainter>
#include <QTimer>

namespace {
QImage load(const char* name) {
    using namespace UIImageAdditions;
    return imageWithContentsOfResolutionIndependentFile(pathForResource(QLatin1String(name), QStringLiteral("png")));
}
}  // namespace

RDButton::RDButton(QWidget* parent)
    : QAbstractButton(parent),
      bkImage_(load("roundbuttonbg")),
      bkImageSelected_(load("pressbuttoniphone")),
      redImage_(load("reddefault")),
      redGlowImage_(load("redglow")),
      blink_(new QTimer(this)) {
    // Two pictures per cycle.
    blink_->setInterval(kBlinkCycleMs / 2);
    connect(blink_, &QTimer::timeout, this, [this] {
        glowing_ = !glowing_;
        update();
    });
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(QStringLiteral("Record"));
    setToolTip(QStringLiteral("Record or stop (Space)"));
}

void RDButton::setHighlighted(bool highlighted) {
    setDown(highlighted);
    update();
}

void RDButton::animateRecordButton() {
    glowing_ = false;
    blink_->start();
    setAccessibleName(QStringLiteral("Stop recording"));
    update();
}

void RDButton::stopRecordingAnimation() {
    blink_->stop();
    glowing_ = false;
    setAccessibleName(QStringLiteral("Record"));
    update();
}

bool RDButton::isBlinking() const {
    return blink_->isActive();
}

void RDButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::Antialiasing);
    const double k = ui::PointScale::current().pixelsPerPoint();
    p.scale(k, k);
    for (QImage* image : {&bkImage_, &bkImageSelected_, &redImage_, &redGlowImage_})
        *image = platform::ScreenScale::repick(*image);
    const QImage& bk = backgroundImage();
    const QRectF bkRect(QPointF(0, 0), bk.deviceIndependentSize());
    if (!bk.isNull()) p.drawImage(bkRect, bk);
    const QImage& dot = dotImage();
    if (!dot.isNull()) p.drawImage(QRectF(QPointF(39, 8), redImage_.deviceIndependentSize()), dot);
    if (hasFocus()) ui::theme::paintFocusRing(p, bkRect, 2.0, 8);
}

void RDButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (isEnabled()) animateClick();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}
