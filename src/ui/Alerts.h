#pragma once
// Alerts and action sheets on screen. Alerts raised through platform::AlertService appear as
// dialogs over the window that never block the event loop: the app keeps running behind them
// and each alert reports the chosen button when it closes. Action sheets slide up from the
// bottom of the 320 x 480 screen, over a dimmed screen.

#include "platform/AlertService.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>

class QMessageBox;
class QVariantAnimation;

namespace ui {

class AlertPresenter {
public:
    // Makes AlertService show its alerts as dialogs over `window`.
    static void install(QWidget* window);
    static void uninstall();
    // The dialog of one alert, shown and not waited for; deletes itself when closed.
    static QMessageBox* present(const platform::Alert& alert, QWidget* parent);
    // The alert dialogs now open (newest last).
    static QList<QMessageBox*> openAlerts();
};

class ActionSheet : public QWidget {
    Q_OBJECT
public:
    // Button indices, as the chooser receives them: the destructive button first (when there
    // is one), then the others in order, the cancel button last.
    using Chosen = std::function<void(int buttonIndex)>;

    ActionSheet(const QString& title, const QString& cancelButton, const QString& destructiveButton,
                const QStringList& otherButtons, Chosen chosen);

    // Slides the sheet up over the screen that holds `over`. The sheet deletes itself after
    // the choice (Escape chooses cancel).
    void showFrom(QWidget* over);
    int cancelButtonIndex() const;
    int destructiveButtonIndex() const { return destructive_.isEmpty() ? -1 : 0; }
    QStringList buttonTitles() const;
    // The same as clicking the button.
    void choose(int buttonIndex);
    static ActionSheet* current();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString title_;
    QString cancel_;
    QString destructive_;
    QStringList others_;
    Chosen chosen_;
    QWidget* panel_ = nullptr;
    bool done_ = false;
};

}  // namespace ui
