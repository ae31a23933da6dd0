#pragma once
// Alerts and action sheets, drawn inside the window over the dimmed screen. Each one is a layer
// that covers the whole window and takes every click, so nothing behind it can be used, with a
// panel sized to its text from the one palette. The keyboard stays inside the panel (Tab
// cycles its buttons), starts on the safe choice, Escape takes that choice and Return presses
// the focused button. Several raised at once come one after another, never stacked. Nothing
// waits for the user: each reports its chosen button through its callback when it closes.

#include "platform/AlertService.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace ui {

class PointScale;

// One alert or action sheet over a window; shown when those raised before it have closed.
class ModalLayer : public QWidget {
    Q_OBJECT
public:
    ~ModalLayer() override;

    // Queues the layer over the top-level window of `over`; shown at once when nothing else is,
    // and, over a window not shown yet, as soon as it is.
    void presentOver(QWidget* over);
    QWidget* panel() const { return panel_; }
    // The buttons in the order Tab visits them.
    QList<QPushButton*> buttons() const { return buttons_; }
    QString title() const { return title_; }

    // The layer on screen, if any, and every layer not closed yet (on screen first).
    static ModalLayer* shown();
    static QList<ModalLayer*> pending();

protected:
    explicit ModalLayer(const QString& title);
    // Makes the panel's content; called once, before the first layout.
    virtual void build() = 0;
    // Places the panel and its content for the window's scale.
    virtual void layoutPanel(const PointScale& scale) = 0;
    virtual QPushButton* safeButton() const = 0;
    virtual void cancel() = 0;
    // A click on the dimmed screen outside the panel.
    virtual void clickedOutside() {}
    QPushButton* addButton(const QString& text, int index, bool destructive);
    // Closes the layer and brings up the next; the choice is reported by the caller.
    void finish();
    bool finished() const { return finished_; }

    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool focusNextPrevChild(bool next) override;

    virtual void buttonClicked(int index) = 0;
    void relayout();

    QString title_;
    QWidget* panel_ = nullptr;
    QList<QPushButton*> buttons_;

private:
    void showNow();
    void keepFocusInside(QWidget* now);

    QPointer<QWidget> window_;
    QPointer<QWidget> focusBefore_;
    bool built_ = false;
    bool finished_ = false;
    bool announced_ = false;
};

// An alert: a title, a message and buttons (0 the cancel button, then the others in order).
class AlertView : public ModalLayer {
    Q_OBJECT
public:
    explicit AlertView(const platform::Alert& alert);
    QString message() const { return alert_.message; }
    QLabel* titleLabel() const { return titleLabel_; }
    QLabel* messageLabel() const { return messageLabel_; }
    // The same as clicking the button.
    void choose(int buttonIndex);

protected:
    void build() override;
    void layoutPanel(const PointScale& scale) override;
    QPushButton* safeButton() const override;
    void cancel() override { choose(0); }
    void buttonClicked(int index) override { choose(index); }

private:
    platform::Alert alert_;
    QLabel* titleLabel_ = nullptr;
    QLabel* messageLabel_ = nullptr;
};

class AlertPresenter {
public:
    // Makes AlertService show its alerts inside `window` (also before it is first shown).
    static void install(QWidget* window);
    static void uninstall();
    // One alert over the window of `over`, not waited for; deletes itself when closed.
    static AlertView* present(const platform::Alert& alert, QWidget* over);
    // The alerts not closed yet (the one on screen first).
    static QList<AlertView*> openAlerts();
};

class ActionSheet : public ModalLayer {
    Q_OBJECT
public:
    // Button indices, as the chooser receives them: the destructive button first (when there
    // is one), then the others in order, the cancel button last.
    using Chosen = std::function<void(int buttonIndex)>;

    ActionSheet(const QString& title, const QString& cancelButton, const QString& destructiveButton,
                const QStringList& otherButtons, Chosen chosen);

    // Shows the sheet over the window that holds `over`: at the bottom of a portrait screen,
    // centred in a landscape window. The sheet deletes itself after the choice (Escape or a
    // click on the dimmed screen chooses cancel).
    void showFrom(QWidget* over);
    int cancelButtonIndex() const;
    int destructiveButtonIndex() const { return destructive_.isEmpty() ? -1 : 0; }
    QStringList buttonTitles() const;
    // The same as clicking the button.
    void choose(int buttonIndex);
    // The sheet on screen or waiting for its turn.
    static ActionSheet* current();

protected:
    void build() override;
    void layoutPanel(const PointScale& scale) override;
    QPushButton* safeButton() const override;
    void cancel() override { choose(cancelButtonIndex()); }
    void clickedOutside() override { choose(cancelButtonIndex()); }
    void buttonClicked(int index) override { choose(index); }

private:
    QString cancel_;
    QString destructive_;
    QStringList others_;
    Chosen chosen_;
    QLabel* titleLabel_ = nullptr;
};

}  // namespace ui
