#pragma once
// Alerts (a title, a message, a cancel button and optional others) raised by app code that
// has no screen of its own to show them on. The front end decides how they appear by
// installing a presenter: the GUI draws it in the window, the CLI prints to stderr, tests record.

#include <QString>
#include <QStringList>
#include <functional>

namespace platform {

struct Alert {
    QString title;
    QString message;
    QString cancelButton;
    QStringList otherButtons;
    // Called once with the index of the chosen button (0 is cancel, then otherButtons in
    // order) when the alert is dismissed; may be empty.
    std::function<void(int buttonIndex)> dismissed;
};

class AlertService {
public:
    using Presenter = std::function<void(const Alert&)>;

    // Installs a presenter; an empty one restores the default, which logs the alert.
    static void setPresenter(Presenter presenter);
    // Hands the alert to the presenter. Main thread.
    static void show(const Alert& alert);
    static void show(const QString& title, const QString& message, const QString& cancelButton);
};

}  // namespace platform
