#pragma once
// The GUI's command line: which camera, microphone, recording orientation and camera mounting to use (as
// tavrio-cli record takes them), plus --help and --version.

#include <QString>
#include <QStringList>

struct LaunchOptions {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    QString error;            // for Action::Error: what was wrong
    QString camera;           // device id; empty: the remembered camera, else the first real one
    QString microphone;       // device id or "none"; empty: the remembered microphone, else the first
    int orientation = 0;      // platform::DeviceOrientation code; 0: the sensor's, if any
    int cameraRotation = -1;  // the camera's mounting in degrees clockwise; -1: as the camera reports
    bool quitAfterFirstPaint = false;

    // `args` without the program name.
    static LaunchOptions parse(const QStringList& args);
    static QString usage();

    // The options of this run (set by main).
    static const LaunchOptions& current();
    static void setCurrent(const LaunchOptions& options);
};
