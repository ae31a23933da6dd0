#pragma once
// A button of a navigation bar: a title (or a system item such as Done) in one of the bar's
// styles. The bar makes the real button; the item says what it is and reports taps.

#include <QObject>
#include <QString>

namespace ui {

class BarButtonItem : public QObject {
    Q_OBJECT
public:
    enum class Style { Plain, Bordered, Done };
    enum class SystemItem { None, Done, Cancel, Edit };

    BarButtonItem(const QString& title, Style style, QObject* parent = nullptr);
    BarButtonItem(SystemItem item, Style style, QObject* parent = nullptr);

    QString title() const { return title_; }
    void setTitle(const QString& title);
    Style style() const { return style_; }
    void setStyle(Style style);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

    // What the button is called for screen readers and automation (its title unless set).
    QString accessibleName() const { return accessibleName_.isEmpty() ? title_ : accessibleName_; }
    void setAccessibleName(const QString& name) { accessibleName_ = name; }

    // Taps from the bar arrive here (and as triggered()).
    void trigger();

signals:
    void triggered();
    void changed();

private:
    QString title_;
    QString accessibleName_;
    Style style_;
    bool enabled_ = true;
};

}  // namespace ui
