#pragma once
// Shows a picture scaled to fill its frame. Pictures keep their device pixel ratio, so "@2x"
// artwork draws sharp.

#include <QImage>
#include <QWidget>

namespace ui {

class ImageView : public QWidget {
    Q_OBJECT
public:
    explicit ImageView(const QImage& image = {}, QWidget* parent = nullptr);

    QImage image() const { return image_; }
    void setImage(const QImage& image);
    double opacity() const { return opacity_; }
    void setOpacity(double opacity);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    double opacity_ = 1.0;
};

}  // namespace ui
