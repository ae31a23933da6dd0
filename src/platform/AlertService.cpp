#include "platform/AlertService.h"
#include "platform/MainThread.h"

#include "platform/Logging.h"

namespace platform {

namespace {

AlertService::Presenter& presenter() {
    static AlertService::Presenter p;
    return p;
}

// Without a front end there is nobody to dismiss the alert, so it is logged and counts as
// cancelled at once.
void logAlert(const Alert& alert) {
    qCWarning(lcApp).noquote() << "alert:" << alert.title << "-" << alert.message;
    if (alert.dismissed) alert.dismissed(0);
}

}  // namespace

void AlertService::setPresenter(Presenter p) {
    presenter() = std::move(p);
}

void AlertService::show(const Alert& alert) {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (presenter())
        presenter()(alert);
    else
        logAlert(alert);
}

void AlertService::show(const QString& title, const QString& message, const QString& cancelButton) {
    TAVRIO_ASSERT_MAIN_THREAD();
    Alert alert;
    alert.title = title;
    alert.message = message;
    alert.cancelButton = cancelButton;
    show(alert);
}

}  // namespace platform
