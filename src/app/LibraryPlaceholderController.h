#pragma once
// Stands in for the library list until it lands: a titled screen with a Done button, presented
// by the camera screen's library button.

#include "ui/ViewController.h"

class LibraryPlaceholderController : public ui::ViewController {
    Q_OBJECT
public:
    explicit LibraryPlaceholderController(QWidget* parent = nullptr);

signals:
    void doneTapped();
};
