#include "ui/MailComposer.h"

#include "platform/AlertService.h"
#include "platform/Logging.h"

#include <QDesktopServices>

namespace ui {

QUrl MailComposer::mailtoUrl(const QString& subject, const QString& body, const QStringList& recipients) {
    QStringList to;
    for (const QString& r : recipients) to << QString::fromLatin1(QUrl::toPercentEncoding(r, "@+"));
    QStringList query;
    if (!subject.isEmpty()) query << QStringLiteral("subject=") + QString::fromLatin1(QUrl::toPercentEncoding(subject));
    if (!body.isEmpty()) query << QStringLiteral("body=") + QString::fromLatin1(QUrl::toPercentEncoding(body));
    QString text = QStringLiteral("mailto:") + to.join(QLatin1Char(','));
    if (!query.isEmpty()) text += QLatin1Char('?') + query.join(QLatin1Char('&'));
    return QUrl(text, QUrl::StrictMode);
}

bool MailComposer::compose(const QString& subject, const QString& body, const QStringList& recipients) {
    const QUrl url = mailtoUrl(subject, body, recipients);
    if (QDesktopServices::openUrl(url)) return true;
    qCWarning(lcApp) << "no mail program took" << url.toString(QUrl::FullyEncoded);
    const QString message = recipients.isEmpty()
                                ? QStringLiteral("No mail program is set up on this computer.")
                                : QStringLiteral("No mail program is set up on this computer. You can write to %1.")
                                      .arg(recipients.join(QStringLiteral(", ")));
    platform::AlertService::show(QStringLiteral("Cannot Send Mail"), message, QStringLiteral("Okay"));
    return false;
}

}  // namespace ui
