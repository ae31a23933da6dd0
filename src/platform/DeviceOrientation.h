#pragma once
// Which way the device is held, in the phone platform's codes: 0 unknown, 1 portrait, 2 portrait
// upside down, 3 landscape left, 4 landscape right, 5 face up, 6 face down. Where the system has
// an orientation sensor (Qt Sensors) it sets the value once started; elsewhere it is set by hand
// (command line, keyboard shortcut). A change is posted as kOrientationDidChange.

namespace platform {

class DeviceOrientation {
public:
    enum : int {
        Unknown = 0,
        Portrait = 1,
        PortraitUpsideDown = 2,
        LandscapeLeft = 3,
        LandscapeRight = 4,
        FaceUp = 5,
        FaceDown = 6
    };
    static int orientation();
    // Values outside 0-6 are taken as Unknown.
    static void setOrientation(int orientation);
    // Follows the orientation sensor from now on, if there is one (main thread, with a
    // QCoreApplication). False when there is none: the value stays what is set by hand.
    static bool startSensor();
};

}  // namespace platform
