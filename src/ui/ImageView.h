#pragma once
// Shows a picture in its frame: scaled to fill it, fitted inside it, or at its own size in
// points, centred. Pictures keep their device pixel ratio, so "@2x" artwork draws sharp.

#include <QImage>
#include <QWidget>

namespace ui {

class ImageView : public QWidget {
    Q_OBJECT
public:
    enum class ContentMode { ScaleToFill, AspectFit, Center };

    explicit ImageView(const QImage& image = {}, QWidget* parent = nullptr);

    QImage image() const { return image_; }
    void setImage(const QImage& image);
    void setContentMode(ContentMode mode);
    double opacity() const { return opacity_; }
    void setOpacity(double opacity);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    ContentMode mode_ = ContentMode::ScaleToFill;
    double opacity_ = 1.0;
};

}  // namespace ui
