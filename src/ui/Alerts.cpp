#include "ui/Alerts.h"

#include "ui/FrameLayout.h"
#include "ui/Fonts.h"
#include "ui/PointScale.h"
#include "ui/Theme.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QVariantAnimation>

#include <memory>

namespace ui {

namespace {
QPointer<QWidget>& alertParent() {
    static QPointer<QWidget> parent;
    return parent;
}
QList<QPointer<QMessageBox>>& openBoxes() {
    static QList<QPointer<QMessageBox>> boxes;
    return boxes;
}
QPointer<ActionSheet>& currentSheet() {
    static QPointer<ActionSheet> sheet;
    return sheet;
}
}  // namespace

void AlertPresenter::install(QWidget* window) {
    alertParent() = window;
    platform::AlertService::setPresenter([](const platform::Alert& alert) { present(alert, alertParent()); });
}

void AlertPresenter::uninstall() {
    alertParent() = nullptr;
    platform::AlertService::setPresenter({});
}

QMessageBox* AlertPresenter::present(const platform::Alert& alert, QWidget* parent) {
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);  // the window behind keeps working
    box->setWindowTitle(alert.title.isEmpty() ? QStringLiteral("Tavrio") : alert.title);
    box->setText(QStringLiteral("<b>%1</b>").arg(alert.title.toHtmlEscaped()));
    box->setInformativeText(alert.message);
    box->setTextFormat(Qt::RichText);
    box->setIcon(QMessageBox::NoIcon);
    box->setAccessibleName(alert.title);
    box->setAccessibleDescription(alert.message);

    QList<QAbstractButton*> buttons;
    QPushButton* cancel = box->addButton(alert.cancelButton.isEmpty() ? QStringLiteral("OK") : alert.cancelButton,
                                         QMessageBox::RejectRole);
    buttons.append(cancel);
    for (const QString& other : alert.otherButtons) buttons.append(box->addButton(other, QMessageBox::AcceptRole));
    box->setEscapeButton(cancel);
    // Return never does the irreversible by accident: the cancel button is the safe choice.
    box->setDefaultButton(cancel);
    cancel->setFocus(Qt::OtherFocusReason);
    // Wide enough for a title on one line; the text wraps within.
    box->setStyleSheet(QStringLiteral("QLabel { min-width: 300px; }"));

    auto answered = std::make_shared<bool>(false);
    auto dismissed = alert.dismissed;
    QObject::connect(box, &QMessageBox::buttonClicked, box, [box, buttons, dismissed, answered](QAbstractButton* b) {
        box->setProperty("tavrioAnswered", true);
        if (*answered) return;
        *answered = true;
        if (dismissed) dismissed(static_cast<int>(buttons.indexOf(b)));
    });
    // Closed by the window manager without a button: that is the cancel button.
    QObject::connect(box, &QObject::destroyed, [dismissed, answered] {
        if (!*answered && dismissed) {
            *answered = true;
            dismissed(0);
        }
    });
    openBoxes().append(box);
    // Shown on the next turn of the event loop: an alert raised during start-up then comes up
    // over the window, which is shown in the same pass.
    QMetaObject::invokeMethod(
        box,
        [box] {
            box->show();
            box->raise();
            box->activateWindow();
        },
        Qt::QueuedConnection);
    return box;
}

QList<QMessageBox*> AlertPresenter::openAlerts() {
    QList<QMessageBox*> out;
    for (const auto& b : openBoxes())
        if (b && !b->property("tavrioAnswered").toBool()) out.append(b);
    return out;
}

ActionSheet::ActionSheet(const QString& title, const QString& cancelButton, const QString& destructiveButton,
                         const QStringList& otherButtons, Chosen chosen)
    : title_(title),
      cancel_(cancelButton),
      destructive_(destructiveButton),
      others_(otherButtons),
      chosen_(std::move(chosen)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAccessibleName(title.isEmpty() ? QStringLiteral("Choices") : title);
    setFocusPolicy(Qt::StrongFocus);
}

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
    return currentSheet();
}

void ActionSheet::showFrom(QWidget* over) {
    QWidget* host = over;
    for (QWidget* w = over; w; w = w->parentWidget())
        if (w->property("tavrioScreenRoot").toBool()) {
            host = w;
            break;
        }
    currentSheet() = this;
    setParent(host);
    FrameLayout::of(host)->addWidget(this, host->property("tavrioScreenRoot").toBool()
                                               ? PointScale::current().screenFrame()
                                               : QRectF(0, 0, PointScale::kScreenWidth, PointScale::kScreenHeight));

    const QStringList titles = buttonTitles();
    constexpr double kButtonH = 44, kGap = 8, kPad = 10;
    const double titleH = title_.isEmpty() ? 0.0 : 36.0;
    const double panelH = kPad + titleH + titles.size() * (kButtonH + kGap) + kPad;
    panel_ = new QWidget(this);
    panel_->setAttribute(Qt::WA_StyledBackground);
    panel_->setStyleSheet(QStringLiteral("background: %1; border-top-left-radius: 12px; border-top-right-radius: 12px;")
                              .arg(theme::kSurface.name()));
    FrameLayout* inner = FrameLayout::of(panel_);
    double y = kPad;
    if (!title_.isEmpty()) {
        auto* label = new QLabel(title_, panel_);
        label->setAlignment(Qt::AlignCenter);
        label->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(theme::kSecondaryText.name()));
        Fonts::set(label, 14, false);
        inner->addWidget(label, QRectF(kPad, y, PointScale::kScreenWidth - 2 * kPad, titleH - 4));
        y += titleH;
    }
    for (int i = 0; i < titles.size(); ++i) {
        auto* b = new QPushButton(titles.at(i), panel_);
        b->setAccessibleName(titles.at(i));
        b->setFocusPolicy(Qt::StrongFocus);
        Fonts::set(b, 17, true);
        const bool destructive = i == destructiveButtonIndex();
        const bool cancel = i == cancelButtonIndex();
        const QColor bg = destructive ? theme::kDestructive : cancel ? theme::kSurfacePressed : theme::kSeparator;
        b->setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: none; border-radius: 10px; }"
                                        "QPushButton:pressed { background: %3; }"
                                        "QPushButton:focus { border: 2px solid %4; }")
                             .arg(theme::kText.name(), bg.name(), theme::kSecondaryText.name(), theme::kAccent.name()));
        connect(b, &QPushButton::clicked, this, [this, i] { choose(i); });
        inner->addWidget(b, QRectF(kPad + 10, y, PointScale::kScreenWidth - 2 * kPad - 20, kButtonH));
        y += kButtonH + kGap;
    }
    FrameLayout* outer = FrameLayout::of(this);
    const QRectF finalFrame(0, PointScale::kScreenHeight - panelH, PointScale::kScreenWidth, panelH);
    outer->addWidget(panel_, finalFrame.translated(0, panelH));
    show();
    raise();

    auto* anim = new QVariantAnimation(this);
    anim->setDuration(300);
    anim->setStartValue(panelH);
    anim->setEndValue(0.0);
    connect(anim, &QVariantAnimation::valueChanged, this, [outer, this, finalFrame](const QVariant& v) {
        outer->setFrame(panel_, finalFrame.translated(0, v.toDouble()));
    });
    anim->start(QAbstractAnimation::DeleteWhenStopped);
    // The safe choice takes the keyboard: the cancel button where a destructive one is offered,
    // else the first; the arrows move on.
    const auto buttons = panel_->findChildren<QPushButton*>();
    const int focused = destructiveButtonIndex() >= 0 && cancelButtonIndex() >= 0 ? cancelButtonIndex() : 0;
    if (focused < buttons.size())
        buttons.at(focused)->setFocus(Qt::OtherFocusReason);
    else
        setFocus(Qt::OtherFocusReason);
}

void ActionSheet::choose(int buttonIndex) {
    if (done_) return;
    done_ = true;
    hide();
    if (currentSheet() == this) currentSheet() = nullptr;
    if (chosen_) chosen_(buttonIndex);
    // close() does nothing to a hidden widget, so WA_DeleteOnClose would never fire.
    deleteLater();
}

void ActionSheet::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), theme::kDim);
}

void ActionSheet::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        choose(cancelButtonIndex());
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        focusNextPrevChild(event->key() == Qt::Key_Down);
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        if (auto* b = qobject_cast<QPushButton*>(focusWidget())) {
            b->click();
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void ActionSheet::mousePressEvent(QMouseEvent* event) {
    // A tap on the dimmed screen above the sheet is the cancel button, as on the phone.
    if (panel_ && !panel_->geometry().contains(event->position().toPoint())) choose(cancelButtonIndex());
}

}  // namespace ui
