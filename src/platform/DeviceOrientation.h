#pragma once
// Which way the device is held, in the phone platform's codes: 0 unknown, 1 portrait, 2 portrait
// upside down, 3 landscape left, 4 landscape right, 5 face up, 6 face down. Desktops have no
// accelerometer, so the value is set (command line, keyboard shortcut); a change is posted as
// kOrientationDidChange on the main thread.

namespace platform {

class DeviceOrientation {
public:
    enum : int { Unknown = 0, Portrait = 1, PortraitUpsideDown = 2, LandscapeLeft = 3, LandscapeRight = 4,
                 FaceUp = 5, FaceDown = 6 };
    static int orientation();
    // Values outside 0-6 are taken as Unknown.
    static void setOrientation(int orientation);
};

}  // namespace platform
