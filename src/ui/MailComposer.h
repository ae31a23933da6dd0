#pragma once
// Mail goes out through the desktop's mail program: a mailto: URL with the recipients, subject
// and body, handed to QDesktopServices. When nothing on the machine handles mail, an alert
// says so and gives the address, so the user can still write.

#include <QString>
#include <QStringList>
#include <QUrl>

namespace ui {

class MailComposer {
public:
    // "mailto:a@b?subject=...&body=..." with every part percent-encoded.
    static QUrl mailtoUrl(const QString& subject, const QString& body, const QStringList& recipients);
    // Opens the URL; false (and the alert) when no mail program took it.
    static bool compose(const QString& subject, const QString& body, const QStringList& recipients);
};

}  // namespace ui
