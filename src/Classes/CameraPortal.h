#pragma once
// The desktop portal's camera access (org.freedesktop.portal.Camera), which sandboxed programs
// need and desktops offer to all: AccessCamera, then OpenPipeWireRemote, whose connection is
// handed to the engine. Every call is asynchronous: the main thread never waits on the bus.

#include <QObject>
#include <QString>

#include <functional>

class CameraPortal : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        NoPortal,  // no camera portal on the session bus: PipeWire is reached directly
        Granted,   // the engine has the portal's PipeWire connection
        Refused,   // the user (or the desktop's settings) said no
        Failed,    // the portal answered with an error; PipeWire is reached directly
    };
    struct Result {
        Outcome outcome = Outcome::NoPortal;
        QString reason;  // for Refused and Failed
    };
    using Done = std::function<void(const Result&)>;

    // Asks once per call; `done` runs on the calling (main) thread. The portal is asked only
    // when it offers the Camera interface.
    static void request(QObject* context, Done done);

    // What a refusal tells the user: the title, and the message saying where to change it.
    static QString refusalTitle();
    static QString refusalMessage();
};
