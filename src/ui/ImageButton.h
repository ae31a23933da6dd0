#pragma once
// A button drawn with a picture, as the camera and details screens use. It darkens while
// pressed, shows a focus ring for keyboard users, and Space or Return press it.

#include <QAbstractButton>
#include <QImage>

namespace ui {

class ImageButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit ImageButton(const QImage& image = {}, QWidget* parent = nullptr);

    QImage image() const { return image_; }
    void setImage(const QImage& image);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QImage image_;
};

// The round "i" button that opens the settings, white on dark backgrounds.
class InfoButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit InfoButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace ui
