#include "platform/DeviceOrientation.h"

#include "platform/Notifications.h"

#include <QCoreApplication>

#include <atomic>

#ifdef TAVRIO_HAVE_QT_SENSORS
#include <QAccelerometer>
#include <QOrientationSensor>
#endif

namespace platform {

namespace {
std::atomic<int> current{DeviceOrientation::Unknown};

#ifdef TAVRIO_HAVE_QT_SENSORS
// Qt Sensors ships a "dummy" accelerometer that always reads upright, and a "generic" orientation
// sensor computed from whatever accelerometer there is: together they make every desktop look
// like a phone held in portrait. Only a sensor with real hardware behind it counts.
bool hasRealOrientationSensor() {
    bool generic = false;
    for (const QByteArray& id : QSensor::sensorsForType(QOrientationSensor::sensorType)) {
        if (id.startsWith("generic."))
            generic = true;
        else if (!id.startsWith("dummy."))
            return true;
    }
    if (!generic) return false;
    for (const QByteArray& id : QSensor::sensorsForType(QAccelerometer::sensorType))
        if (!id.startsWith("dummy.") && !id.startsWith("generic.")) return true;
    return false;
}
#endif
}  // namespace

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
    if (!QCoreApplication::instance() || !hasRealOrientationSensor()) return false;
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
