// The reference for the start-up benchmark: a bare Qt Widgets window of the same size as
// Tavrio's, which quits as soon as it has been painted.

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace {
class Bare : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        if (!painted_) {
            painted_ = true;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
    }

private:
    bool painted_ = false;
};
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Bare window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.resize(409, 614);
    window.show();
    return QApplication::exec();
}
