#pragma once
// Short interface sounds with a completion routine. The completion comes once per play when
// the sound has finished; with no audio device, no sound server or a sound that cannot be
// played, it still comes, after the sound's length, so whatever waits on it (recording after
// the start beep) goes on as it would with sound.

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QSoundEffect;
class QTimer;

namespace ui {

class SystemSound : public QObject {
    Q_OBJECT
public:
    // `url` is a file or "qrc:" URL of a WAV file.
    explicit SystemSound(const QString& url, QObject* parent = nullptr);
    ~SystemSound() override;

    // Plays from the start; `completion` (may be empty) runs on the main thread when it ends.
    // A play while one runs restarts the sound; the earlier completion still comes, once.
    void play(std::function<void()> completion = {});

    // The sound's length in milliseconds, from its WAV header; nullopt for an unreadable file.
    std::optional<int> lengthMs() const { return lengthMs_; }
    // Whether the sound goes to a real output (false: completions come by the clock).
    bool hasOutput() const;

    // The length of WAV data: data bytes over the byte rate of its "fmt " chunk.
    static std::optional<int> wavLengthMs(const QByteArray& wav);

private:
    void finish();

    QString url_;
    QSoundEffect* effect_ = nullptr;
    QTimer* fallback_;
    std::optional<int> lengthMs_;
    std::vector<std::function<void()>> pending_;
    bool started_ = false;
};

}  // namespace ui
