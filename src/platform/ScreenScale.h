#pragma once
// The main screen's scale: device pixels per point. The window that shows the 320 x 480 point
// screen sets it whenever its size or its display changes; code that picks artwork reads it.
// 1.0 until a window says otherwise (the command line has no screen).

namespace platform {

class ScreenScale {
public:
    static double scale();
    // Values that are not finite or not above zero are taken as 1.0.
    static void setScale(double scale);
};

}  // namespace platform
