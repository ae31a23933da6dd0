#pragma once
// Whether keyboard focus can be seen: a widget is grabbed with and without the focus, and the
// pixels that change to the accent colour are counted.

#include <QApplication>
#include <QImage>
#include <QSet>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "ui/Theme.h"

namespace testsupport {

inline bool nearAccent(QRgb c) {
    const QColor a = ui::theme::kAccent;
    return std::abs(qRed(c) - a.red()) < 60 && std::abs(qGreen(c) - a.green()) < 60 &&
           std::abs(qBlue(c) - a.blue()) < 60;
}

// How many of `w`'s pixels turn to the accent colour when it has the keyboard focus. The focus
// is given back afterwards.
inline int ringPixels(QWidget* w) {
    w->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    const QImage on = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    w->clearFocus();
    QCoreApplication::processEvents();
    const QImage off = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    w->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    if (on.size() != off.size()) return 0;
    int n = 0;
    for (int y = 0; y < on.height(); ++y)
        for (int x = 0; x < on.width(); ++x)
            if (on.pixel(x, y) != off.pixel(x, y) && nearAccent(on.pixel(x, y))) ++n;
    return n;
}

inline QString describe(const QWidget* w) {
    return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(w->metaObject()->className()), w->accessibleName());
}

// Tabs from the focused widget through every stop inside `screen` until the keyboard comes back
// to one it has been on; each must show a ring. Returns the stops' descriptions in Tab order.
inline QStringList expectRingOnEveryTabStop(QWidget* screen) {
    QStringList stops;
    QSet<QWidget*> seen;
    for (int i = 0; i < 40; ++i) {
        QWidget* f = QApplication::focusWidget();
        if (!f) {
            ADD_FAILURE() << "nothing has the keyboard";
            break;
        }
        if (seen.contains(f) || !(f == screen || screen->isAncestorOf(f))) break;
        seen.insert(f);
        stops << describe(f);
        // A ring goes round the control: at least a pixel of it for every two of its shorter
        // side (a hint of colour is not a ring).
        EXPECT_GE(ringPixels(f), std::min(f->width(), f->height()) / 2)
            << describe(f).toStdString() << " shows no focus ring";
        QTest::keyClick(f, Qt::Key_Tab);
        QCoreApplication::processEvents();
    }
    return stops;
}

}  // namespace testsupport
