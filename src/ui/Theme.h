#pragma once
// The application's one look: a dark theme, every colour of every screen from this palette.
// Screens take their colours from here (never their own numbers), and apply() gives Qt's own
// widgets (menus, message boxes, push buttons, scroll bars) the same palette.

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

namespace ui::theme {

inline const QColor kBackground(7, 9, 14);          // every screen's ground
inline const QColor kSurface(24, 27, 36);           // rows, cards, buttons on the ground
inline const QColor kSurfacePressed(40, 45, 58);    // a surface being pressed
inline const QColor kSeparator(40, 44, 54);         // lines between rows
inline const QColor kText(236, 238, 242);           // text
inline const QColor kSecondaryText(150, 156, 168);  // headers, notes, values
inline const QColor kAccent(90, 176, 255);          // focus, links, the chosen item
inline const QColor kDestructive(255, 69, 58);      // delete
inline const QColor kDim(0, 0, 0, 150);             // over a screen behind an alert
// Over and around pictures (the camera's preview, a movie): black round a picture, as every
// player has it, and controls on translucent black so that the picture shows through.
inline const QColor kPictureGround(0, 0, 0);
inline const QColor kOverPicture(0, 0, 0, 110);          // the camera's control column and readouts
inline const QColor kPanelOverPicture(20, 20, 20, 220);  // the player's panel
inline const QColor kOverPictureText(255, 255, 255);     // the clock and readouts over a picture
inline const QColor kFocusBox(0, 0, 255, 204);           // the square that flashes where focus goes
inline const QColor kZoomBand(255, 255, 255, 28);        // a zoom curve's band under the scrubber
// The library's rows: an exported movie bright, a recording still to be exported grey.
inline const QColor kExportRowText(255, 255, 255);
inline const QColor kRecordingRowText(128, 128, 128);

// A rounded surface button with the accent's focus ring.
QString buttonStyleSheet(double points = 14);
// A borderless button on a dark ground (the player's), with the same focus ring.
QString flatButtonStyleSheet(const QColor& text = kText);

// The keyboard focus ring every control draws for itself when it has the focus, inside `r`
// (in the painter's units; `width` in the same units): rounded by `radius`, or an ellipse.
void paintFocusRing(QPainter& p, const QRectF& r, double width = 2.0, double radius = 6.0);
void paintFocusEllipse(QPainter& p, const QRectF& r, double width = 2.0);
// Qt's own widgets in the same look; call once after the application object exists.
void apply();

}  // namespace ui::theme
