// The reference for the start-up benchmark: a bare Qt Widgets window of the same size as
// Tavrio's, which quits as soon as it has been painted.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>

namespace {
class Bare : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        if (!painted_) {
            painted_ = true;
            // As tavrio --quit-after-first-paint reports it.
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            std::fprintf(stderr, "first paint at %lld\n",
                         static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
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
