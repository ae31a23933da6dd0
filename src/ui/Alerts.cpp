#include "ui/Alerts.h"

#include "platform/Logging.h"
#include "ui/Fonts.h"
#include "ui/PointScale.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace ui {

namespace {

QList<QPointer<ModalLayer>>& queue() {
    static QList<QPointer<ModalLayer>> layers;
    return layers;
}

QPointer<QWidget>& alertWindow() {
    static QPointer<QWidget> window;
    return window;
}

// Points of the panels' geometry.
constexpr double kWindowMargin = 16;
constexpr double kReadableWidth = 270;  // the widest an alert gets: longer lines wrap
constexpr double kMinimumWidth = 200;
constexpr double kSheetWidth = 304;  // the screen's width less a margin each side

// The panel: a rounded card on the dimmed screen.
class Panel : public QWidget {
public:
    explicit Panel(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_NoMousePropagation); }
    double radius = 12;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(theme::kSurface);
        p.drawRoundedRect(QRectF(rect()), radius, radius);
    }
};

QLabel* makeLabel(const QString& text, const QColor& colour, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    label->setContentsMargins(0, 0, 0, 0);
    label->setAccessibleName(text);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
    return label;
}

// The text with a break opportunity between the letters of any word wider than a line, so that
// a long file name wraps instead of running past the panel's edge.
QString wrappable(const QString& text, const QFontMetricsF& metrics, double lineWidth) {
    static const QRegularExpression space(QStringLiteral("(\\s+)"));
    QString out;
    qsizetype from = 0;
    auto addWord = [&](const QString& word) {
        if (metrics.horizontalAdvance(word) <= lineWidth) {
            out += word;
            return;
        }
        for (qsizetype i = 0; i < word.size(); ++i) {
            if (i > 0 && !word.at(i).isLowSurrogate()) out += QChar(0x200B);
            out += word.at(i);
        }
    };
    for (auto it = space.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        addWord(text.mid(from, m.capturedStart() - from));
        out += m.captured();
        from = m.capturedEnd();
    }
    addWord(text.mid(from));
    return out;
}

// The window's scale, worked out from its size as the window itself does, so the layer lays out
// right whichever of the two sees a resize first.
PointScale scaleOf(const QWidget* window) {
    return PointScale::forWindow(window->size(), window->devicePixelRatioF());
}

int px(double points, const PointScale& scale) {
    return static_cast<int>(std::lround(points * scale.pixelsPerPoint()));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The layer

ModalLayer::ModalLayer(const QString& title) : title_(title) {
    setAttribute(Qt::WA_NoMousePropagation);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(title.isEmpty() ? QStringLiteral("Choices") : title);
    panel_ = new Panel(this);
    panel_->setAccessibleName(accessibleName());
    hide();
}

ModalLayer::~ModalLayer() {
    // The widget's own teardown moves the focus; by then this is no longer a ModalLayer to ask.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
    const bool wasShown = shown() == this;
    queue().removeAll(this);
    queue().removeAll(nullptr);
    if (wasShown && !queue().isEmpty()) {
        // Not from here: the window this one was destroyed with may be taking the rest along.
        QTimer::singleShot(0, queue().first(), [next = queue().first()] {
            if (next && !next->isVisible() && queue().value(0) == next) next->showNow();
        });
    }
}

ModalLayer* ModalLayer::shown() {
    queue().removeAll(nullptr);
    ModalLayer* first = queue().value(0);
    return first && first->built_ ? first : nullptr;
}

QList<ModalLayer*> ModalLayer::pending() {
    QList<ModalLayer*> out;
    for (const auto& layer : queue())
        if (layer && !layer->finished_) out.append(layer);
    return out;
}

void ModalLayer::presentOver(QWidget* over) {
    window_ = over ? over->window() : nullptr;
    if (!window_) return;
    setParent(window_);
    hide();
    window_->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { keepFocusInside(now); });
    queue().removeAll(nullptr);
    queue().append(this);
    if (queue().size() == 1) showNow();
}

void ModalLayer::showNow() {
    if (!built_) {
        build();
        built_ = true;
    }
    relayout();
    show();
    raise();
    if (QWidget* before = window_->focusWidget(); before && !isAncestorOf(before)) focusBefore_ = before;
    if (QPushButton* safe = safeButton())
        safe->setFocus(Qt::OtherFocusReason);
    else if (!buttons_.isEmpty())
        buttons_.first()->setFocus(Qt::OtherFocusReason);
}

void ModalLayer::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Said when the user can see it: over a window not shown yet, that is when the window is.
    if (!announced_ && isVisible()) {
        announced_ = true;
        qCDebug(lcApp).noquote() << "alert shown:" << title_;
    }
}

void ModalLayer::finish() {
    if (finished_) return;
    finished_ = true;
    queue().removeAll(this);
    queue().removeAll(nullptr);
    hide();
    qCDebug(lcApp).noquote() << "alert closed:" << title_;
    if (!queue().isEmpty()) {
        queue().first()->showNow();
    } else if (focusBefore_ && focusBefore_->isVisible() && focusBefore_->isEnabled()) {
        focusBefore_->setFocus(Qt::OtherFocusReason);
    } else if (QWidget* focus = window_ ? window_->focusWidget() : nullptr; focus && isAncestorOf(focus)) {
        // Nothing behind had the keyboard (the screen came up with no control to give it): the
        // first control takes it, as when a window is activated, rather than the hidden button.
        focus->clearFocus();
        for (QWidget* w = window_->nextInFocusChain(); w && w != window_; w = w->nextInFocusChain()) {
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled() && !isAncestorOf(w)) {
                w->setFocus(Qt::TabFocusReason);
                break;
            }
        }
    }
    deleteLater();
}

void ModalLayer::keepFocusInside(QWidget* now) {
    if (finished_ || !built_ || shown() != this || !now || !window_ || now->window() != window_ || isAncestorOf(now))
        return;
    // Something behind took the keyboard (a screen appearing under the alert focuses its first
    // control): it gets it back when the alert closes.
    focusBefore_ = now;
    if (QPushButton* safe = safeButton()) safe->setFocus(Qt::OtherFocusReason);
}

void ModalLayer::relayout() {
    if (!window_) return;
    setGeometry(window_->rect());
    layoutPanel(scaleOf(window_));
    update();
}

QPushButton* ModalLayer::addButton(const QString& text, int index, bool destructive) {
    auto* b = new QPushButton(text, panel_);
    b->setAccessibleName(text);
    b->setFocusPolicy(Qt::StrongFocus);
    b->setAutoDefault(false);
    const QColor ground = destructive ? theme::kDestructive : theme::kSurfacePressed;
    b->setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: none; border-radius: 10px; "
                                    "padding: 0 8px; }"
                                    "QPushButton:pressed { background: %3; }"
                                    "QPushButton:focus { border: 2px solid %4; }")
                         .arg(theme::kText.name(), ground.name(), theme::kSeparator.name(), theme::kAccent.name()));
    connect(b, &QPushButton::clicked, this, [this, index] { buttonClicked(index); });
    return b;
}

bool ModalLayer::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // The window's shortcuts (Space records on the camera screen) stay off while an alert is
        // up; full screen still works.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F11) {
            event->accept();
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu: event->accept(); return true;
    default: break;
    }
    return QWidget::event(event);
}

bool ModalLayer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && built_ && !finished_) {
        if (event->type() == QEvent::Resize || event->type() == QEvent::ScreenChangeInternal) relayout();
    }
    return QWidget::eventFilter(watched, event);
}

void ModalLayer::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), theme::kDim);
}

void ModalLayer::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape: cancel(); break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (auto* b = qobject_cast<QPushButton*>(QApplication::focusWidget()); b && buttons_.contains(b)) b->click();
        break;
    case Qt::Key_Up:
    case Qt::Key_Left: focusNextPrevChild(false); break;
    case Qt::Key_Down:
    case Qt::Key_Right: focusNextPrevChild(true); break;
    default: break;
    }
    // Whatever else was typed stops here: the screen behind is not being used.
    event->accept();
}

void ModalLayer::mousePressEvent(QMouseEvent* event) {
    if (!panel_->geometry().contains(event->position().toPoint())) clickedOutside();
    event->accept();
}

bool ModalLayer::focusNextPrevChild(bool next) {
    if (buttons_.isEmpty()) return true;
    const auto n = buttons_.size();
    auto at = buttons_.indexOf(qobject_cast<QPushButton*>(QApplication::focusWidget()));
    at = at < 0 ? 0 : (at + (next ? 1 : n - 1)) % n;
    buttons_.at(at)->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Alerts

AlertView::AlertView(const platform::Alert& alert) : ModalLayer(alert.title), alert_(alert) {
    setAccessibleDescription(alert.message);
}

void AlertView::build() {
    titleLabel_ = makeLabel(title_, theme::kText, panel_);
    titleLabel_->setHidden(title_.isEmpty());
    messageLabel_ = makeLabel(alert_.message, theme::kSecondaryText, panel_);
    messageLabel_->setHidden(alert_.message.isEmpty());
    // Tab and the screen go left to right: the cancel button first.
    buttons_.append(addButton(alert_.cancelButton.isEmpty() ? QStringLiteral("OK") : alert_.cancelButton, 0, false));
    for (int i = 0; i < alert_.otherButtons.size(); ++i)
        buttons_.append(addButton(alert_.otherButtons.at(i), i + 1, false));
}

void AlertView::layoutPanel(const PointScale& scale) {
    constexpr double kPad = 16, kGap = 6, kButtonH = 40, kButtonGap = 8;
    const double ppp = scale.pixelsPerPoint();
    const double windowWidth = width() / ppp;
    const QFont titleFont = Fonts::systemInPoints(17 * ppp, true);
    const QFont messageFont = Fonts::systemInPoints(14 * ppp, false);
    const QFont buttonFont = Fonts::systemInPoints(16 * ppp, true);
    const QFontMetricsF titleMetrics(titleFont), messageMetrics(messageFont), buttonMetrics(buttonFont);

    // As wide as its text on one line, up to a width that reads easily (longer text wraps there,
    // a longer word anywhere), never past the window; wide enough for its buttons side by side.
    const double available = std::max(80.0, windowWidth - 2 * kWindowMargin);
    double natural = std::max(titleMetrics.horizontalAdvance(title_), messageMetrics.horizontalAdvance(alert_.message));
    for (QPushButton* b : buttons_) natural = std::max(natural, buttonMetrics.horizontalAdvance(b->text()) * 2);
    const double panelWidth = std::min(available, std::clamp(natural / ppp + 2 * kPad, kMinimumWidth, kReadableWidth));
    const int inner = px(panelWidth - 2 * kPad, scale);

    int y = px(kPad, scale);
    auto place = [&](QLabel* label, const QFont& font, const QFontMetricsF& metrics, const QString& text) {
        if (label->isHidden()) return;
        label->setFont(font);
        label->setText(wrappable(text, metrics, inner));
        const int h = label->heightForWidth(inner);
        label->setGeometry(px(kPad, scale), y, inner, h);
        y += h + px(kGap, scale);
    };
    place(titleLabel_, titleFont, titleMetrics, title_);
    place(messageLabel_, messageFont, messageMetrics, alert_.message);
    y += px(kPad - kGap, scale);

    // Two short buttons side by side, cancel on the left; otherwise one under the other.
    const int buttonH = px(kButtonH, scale);
    const int gap = px(kButtonGap, scale);
    const int half = (inner - gap) / 2;
    bool sideBySide = buttons_.size() == 2;
    for (QPushButton* b : buttons_) {
        b->setFont(buttonFont);
        if (buttonMetrics.horizontalAdvance(b->text()) + px(20, scale) > half) sideBySide = false;
    }
    if (sideBySide) {
        buttons_.at(0)->setGeometry(px(kPad, scale), y, half, buttonH);
        buttons_.at(1)->setGeometry(px(kPad, scale) + inner - half, y, half, buttonH);
        y += buttonH;
    } else {
        for (qsizetype i = 0; i < buttons_.size(); ++i) {
            buttons_.at(i)->setGeometry(px(kPad, scale), y, inner, buttonH);
            y += buttonH + (i + 1 < buttons_.size() ? gap : 0);
        }
    }
    y += px(kPad, scale);
    static_cast<Panel*>(panel_)->radius = 14 * ppp;
    const int w = px(panelWidth, scale);
    panel_->setGeometry((width() - w) / 2, std::max(0, (height() - y) / 2), w, y);
}

QPushButton* AlertView::safeButton() const {
    // The cancel button: the one button of a notice, and what keeps things as they are.
    return buttons_.value(0);
}

void AlertView::choose(int buttonIndex) {
    if (finished()) return;
    finish();
    if (alert_.dismissed) alert_.dismissed(buttonIndex);
}

void AlertPresenter::install(QWidget* window) {
    alertWindow() = window;
    platform::AlertService::setPresenter([](const platform::Alert& alert) { present(alert, alertWindow()); });
}

void AlertPresenter::uninstall() {
    alertWindow() = nullptr;
    platform::AlertService::setPresenter({});
}

AlertView* AlertPresenter::present(const platform::Alert& alert, QWidget* over) {
    if (!over) {
        // The window has gone (the application is ending): nobody can answer.
        qCWarning(lcApp).noquote() << "alert:" << alert.title << "-" << alert.message;
        if (alert.dismissed) alert.dismissed(0);
        return nullptr;
    }
    auto* view = new AlertView(alert);
    view->presentOver(over);
    return view;
}

QList<AlertView*> AlertPresenter::openAlerts() {
    QList<AlertView*> out;
    for (ModalLayer* layer : ModalLayer::pending())
        if (auto* alert = qobject_cast<AlertView*>(layer)) out.append(alert);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Action sheets

ActionSheet::ActionSheet(const QString& title, const QString& cancelButton, const QString& destructiveButton,
                         const QStringList& otherButtons, Chosen chosen)
    : ModalLayer(title),
      cancel_(cancelButton),
      destructive_(destructiveButton),
      others_(otherButtons),
      chosen_(std::move(chosen)) {}

QStringList ActionSheet::buttonTitles() const {
    QStringList out;
    if (!destructive_.isEmpty()) out << destructive_;
    out << others_;
    if (!cancel_.isEmpty()) out << cancel_;
    return out;
}

int ActionSheet::cancelButtonIndex() const {
    return cancel_.isEmpty() ? -1 : static_cast<int>(buttonTitles().size()) - 1;
}

ActionSheet* ActionSheet::current() {
    for (ModalLayer* layer : ModalLayer::pending())
        if (auto* sheet = qobject_cast<ActionSheet*>(layer)) return sheet;
    return nullptr;
}

void ActionSheet::showFrom(QWidget* over) {
    presentOver(over);
}

void ActionSheet::build() {
    if (!title_.isEmpty()) titleLabel_ = makeLabel(title_, theme::kSecondaryText, panel_);
    const QStringList titles = buttonTitles();
    for (int i = 0; i < titles.size(); ++i) buttons_.append(addButton(titles.at(i), i, i == destructiveButtonIndex()));
}

void ActionSheet::layoutPanel(const PointScale& scale) {
    constexpr double kPad = 10, kButtonH = 44, kGap = 8;
    const double ppp = scale.pixelsPerPoint();
    const double panelWidth = std::min(kSheetWidth, std::max(80.0, width() / ppp - 2 * kGap));
    const int inner = px(panelWidth - 2 * kPad, scale);
    int y = px(kPad, scale);
    if (titleLabel_) {
        const QFont font = Fonts::systemInPoints(14 * ppp, false);
        titleLabel_->setFont(font);
        titleLabel_->setText(wrappable(title_, QFontMetricsF(font), inner));
        const int h = titleLabel_->heightForWidth(inner);
        titleLabel_->setGeometry(px(kPad, scale), y, inner, h);
        y += h + px(kGap, scale);
    }
    const QFont buttonFont = Fonts::systemInPoints(17 * ppp, true);
    for (int i = 0; i < buttons_.size(); ++i) {
        // The cancel button stands apart from the choices above it.
        if (i == cancelButtonIndex() && i > 0) y += px(kGap, scale);
        buttons_.at(i)->setFont(buttonFont);
        buttons_.at(i)->setGeometry(px(kPad, scale), y, inner, px(kButtonH, scale));
        y += px(kButtonH + kGap, scale);
    }
    y += px(kPad - kGap, scale);
    static_cast<Panel*>(panel_)->radius = 12 * ppp;
    const int w = px(panelWidth, scale);
    if (scale.isLandscape()) {
        // A desktop's window: in the middle, where the eye already is.
        panel_->setGeometry((width() - w) / 2, std::max(0, (height() - y) / 2), w, y);
    } else {
        // A phone's screen: at the bottom of the screen, in reach of the thumb.
        const QRectF screen = scale.screenRectInWindow();
        const int bottom = static_cast<int>(std::lround(screen.bottom())) - px(kGap, scale);
        panel_->setGeometry(static_cast<int>(std::lround(screen.center().x())) - w / 2, std::max(0, bottom - y), w, y);
    }
}

QPushButton* ActionSheet::safeButton() const {
    // Where something could be destroyed, Cancel; otherwise the first choice.
    const int index = destructiveButtonIndex() >= 0 && cancelButtonIndex() >= 0 ? cancelButtonIndex() : 0;
    return buttons_.value(index);
}

void ActionSheet::choose(int buttonIndex) {
    if (finished()) return;
    finish();
    if (chosen_) chosen_(buttonIndex);
}

}  // namespace ui
