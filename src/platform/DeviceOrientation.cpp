#include "platform/DeviceOrientation.h"

#include "platform/Notifications.h"

#include <QCoreApplication>

#include <atomic>

#ifdef TAVRIO_HAVE_QT_SENSORS
#include <QOrientationSensor>
#endif

namespace platform {

namespace {
std::atomic<int> current{DeviceOrientation::Unknown};
}

int DeviceOrientation::orientation() {
    return current.load();
}

void DeviceOrientation::setOrientation(int orientation) {
    if (orientation < Unknown || orientation > FaceDown) orientation = Unknown;
    if (current.exchange(orientation) != orientation)
        Notifications::center().post(QString::fromLatin1(kOrientationDidChange));
}

bool DeviceOrientation::startSensor() {
#ifdef TAVRIO_HAVE_QT_SENSORS
    static QOrientationSensor* sensor = nullptr;
    if (sensor) return sensor->isActive();
    if (!QCoreApplication::instance() || QSensor::sensorsForType(QOrientationSensor::sensorType).isEmpty())
        return false;
    sensor = new QOrientationSensor(QCoreApplication::instance());
    QObject::connect(sensor, &QSensor::readingChanged, [] {
        // The sensor names the edge that points up; the platform codes name the hold.
        switch (sensor->reading()->orientation()) {
        case QOrientationReading::TopUp: setOrientation(Portrait); break;
        case QOrientationReading::TopDown: setOrientation(PortraitUpsideDown); break;
        case QOrientationReading::LeftUp: setOrientation(LandscapeLeft); break;
        case QOrientationReading::RightUp: setOrientation(LandscapeRight); break;
        case QOrientationReading::FaceUp: setOrientation(FaceUp); break;
        case QOrientationReading::FaceDown: setOrientation(FaceDown); break;
        default: setOrientation(Unknown); break;
        }
    });
    return sensor->start();
#else
    return false;
#endif
}

}  // namespace platform
