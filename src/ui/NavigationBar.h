#pragma once
// The bar at the top of a navigation controller: the top screen's title in the middle, a back
// button (titled after the screen below) or the screen's left item on the left, its right item
// on the right. Default (light), black, and translucent black styles.

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;

#include "ui/BarButtonItem.h"

namespace ui {

class NavigationBar : public QWidget {
    Q_OBJECT
public:
    enum class Style { Default, Black };
    static constexpr double kHeight = 44.0;

    explicit NavigationBar(QWidget* parent = nullptr);

    Style barStyle() const { return style_; }
    void setBarStyle(Style style);
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool translucent);

    // What the bar shows. An empty backTitle means no back button; a left item replaces it.
    void setContent(const QString& title, BarButtonItem* left, BarButtonItem* right, const QString& backTitle);

    QString title() const;
    QPushButton* backButton() const { return back_; }
    QPushButton* leftButton() const { return leftButton_; }
    QPushButton* rightButton() const { return rightButton_; }

signals:
    void backRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QPushButton* makeButton(BarButtonItem* item);
    void restyle();
    void place();

    Style style_ = Style::Default;
    bool translucent_ = false;
    QLabel* title_;
    QPushButton* back_;
    QPushButton* leftButton_ = nullptr;
    QPushButton* rightButton_ = nullptr;
    QPointer<BarButtonItem> leftItem_;
    QPointer<BarButtonItem> rightItem_;
};

}  // namespace ui
