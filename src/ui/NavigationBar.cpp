#include "ui/NavigationBar.h"

#include "ui/BarButtonItem.h"
#include "ui/Fonts.h"
#include "ui/PointScale.h"
#include "ui/Theme.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>

#include <algorithm>

namespace ui {

namespace {
constexpr double kSideMargin = 6.0;
constexpr double kButtonHeight = 30.0;
constexpr double kButtonPadding = 12.0;

QString buttonSheet(NavigationBar::Style bar, BarButtonItem::Style style, bool back) {
    const bool dark = bar == NavigationBar::Style::Black;
    QString fg = dark ? QStringLiteral("#ffffff") : QStringLiteral("#0a60d0");
    QString bg = QStringLiteral("transparent");
    QString border = QStringLiteral("transparent");
    if (style == BarButtonItem::Style::Bordered || back) {
        bg = dark ? QStringLiteral("rgba(255,255,255,0.14)") : QStringLiteral("rgba(10,96,208,0.08)");
        border = dark ? QStringLiteral("rgba(255,255,255,0.28)") : QStringLiteral("rgba(10,96,208,0.35)");
    } else if (style == BarButtonItem::Style::Done) {
        bg = QStringLiteral("#0a74ff");
        border = QStringLiteral("#0a5fd0");
        fg = QStringLiteral("#ffffff");
    }
    const int radius = std::max(2, static_cast<int>(PointScale::current().toPixels(7.0)));
    return QStringLiteral(
               "QPushButton { color: %1; background: %2; border: 1px solid %3; border-radius: %4px; padding: 0 %5px; }"
               "QPushButton:pressed { background: rgba(127,127,127,0.35); }"
               "QPushButton:focus { border: 2px solid %6; }"
               "QPushButton:disabled { color: rgba(127,127,127,0.8); }")
        .arg(fg, bg, border)
        .arg(radius)
        .arg(static_cast<int>(PointScale::current().toPixels(kButtonPadding / 2)))
        .arg(theme::kAccent.name());
}
}  // namespace

NavigationBar::NavigationBar(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Navigation bar"));
    title_ = new QLabel(this);
    title_->setAlignment(Qt::AlignCenter);
    Fonts::set(title_, 18, true);
    back_ = new QPushButton(this);
    back_->setFocusPolicy(Qt::StrongFocus);
    Fonts::set(back_, 13, true);
    back_->hide();
    connect(back_, &QPushButton::clicked, this, &NavigationBar::backRequested);
    restyle();
}

void NavigationBar::setBarStyle(Style style) {
    style_ = style;
    restyle();
    update();
}

void NavigationBar::setTranslucent(bool translucent) {
    translucent_ = translucent;
    update();
}

QString NavigationBar::title() const {
    return title_->text();
}

QPushButton* NavigationBar::makeButton(BarButtonItem* item) {
    auto* b = new QPushButton(item->title(), this);
    b->setFocusPolicy(Qt::StrongFocus);
    b->setAccessibleName(item->accessibleName());
    b->setEnabled(item->isEnabled());
    Fonts::set(b, 13, true);
    connect(b, &QPushButton::clicked, item, &BarButtonItem::trigger);
    connect(item, &BarButtonItem::changed, b, [this, b, item] {
        b->setText(item->title());
        b->setAccessibleName(item->accessibleName());
        b->setEnabled(item->isEnabled());
        // A button without a title (the list's Done while editing) is no button to draw.
        b->setVisible(!item->title().isEmpty());
        restyle();
        place();
    });
    b->setVisible(!item->title().isEmpty());
    return b;
}

void NavigationBar::setContent(const QString& title, BarButtonItem* left, BarButtonItem* right,
                               const QString& backTitle) {
    title_->setText(title);
    title_->setAccessibleName(title);
    delete leftButton_;
    leftButton_ = nullptr;
    delete rightButton_;
    rightButton_ = nullptr;
    leftItem_ = left;
    rightItem_ = right;
    if (left) leftButton_ = makeButton(left);
    if (right) rightButton_ = makeButton(right);
    back_->setText(backTitle);
    back_->setAccessibleName(QStringLiteral("Back"));
    back_->setVisible(!left && !backTitle.isEmpty());
    restyle();
    place();
}

void NavigationBar::restyle() {
    const bool dark = style_ == Style::Black;
    title_->setStyleSheet(dark ? QStringLiteral("color: white; background: transparent;")
                               : QStringLiteral("color: #1c1c1e; background: transparent;"));
    back_->setStyleSheet(buttonSheet(style_, BarButtonItem::Style::Bordered, true));
    if (leftButton_ && leftItem_) leftButton_->setStyleSheet(buttonSheet(style_, leftItem_->style(), false));
    if (rightButton_ && rightItem_) rightButton_->setStyleSheet(buttonSheet(style_, rightItem_->style(), false));
}

void NavigationBar::place() {
    const PointScale& s = PointScale::current();
    const double y = (kHeight - kButtonHeight) / 2;
    auto widthOf = [](QPushButton* b) {
        QFont f = Fonts::systemInPoints(13, true);
        return std::clamp(QFontMetricsF(f).horizontalAdvance(b->text()) + 2 * kButtonPadding, 50.0, 110.0);
    };
    double leftEdge = kSideMargin;
    QPushButton* leftMost = leftButton_ ? leftButton_ : (back_->isVisible() ? back_ : nullptr);
    if (leftMost) {
        const double w = widthOf(leftMost);
        leftMost->setGeometry(s.toPixels(QRectF(kSideMargin, y, w, kButtonHeight)));
        leftEdge = kSideMargin + w;
    }
    // The bar spans its screen: 320 points, or a landscape window's readable width.
    const double barWidth = width() > 0 ? width() / s.pixelsPerPoint() : PointScale::kScreenWidth;
    double rightEdge = barWidth - kSideMargin;
    if (rightButton_) {
        const double w = widthOf(rightButton_);
        rightButton_->setGeometry(s.toPixels(QRectF(rightEdge - w, y, w, kButtonHeight)));
        rightEdge -= w;
    }
    // The title stays centred on the bar while it clears both buttons.
    const double side = std::max(leftEdge, barWidth - rightEdge) + 4;
    title_->setGeometry(s.toPixels(QRectF(side, 0, barWidth - 2 * side, kHeight)));
    restyle();
}

void NavigationBar::resizeEvent(QResizeEvent*) {
    place();
}

void NavigationBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRectF r = rect();
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    if (style_ == Style::Black) {
        const int alpha = translucent_ ? 200 : 255;
        g.setColorAt(0, QColor(44, 44, 48, alpha));
        g.setColorAt(1, QColor(18, 18, 20, alpha));
    } else {
        g.setColorAt(0, QColor(250, 250, 252));
        g.setColorAt(1, QColor(232, 233, 238));
    }
    p.fillRect(r, g);
    p.setPen(style_ == Style::Black ? QColor(0, 0, 0) : QColor(196, 198, 204));
    p.drawLine(r.bottomLeft() - QPointF(0, 0.5), r.bottomRight() - QPointF(0, 0.5));
}

}  // namespace ui
