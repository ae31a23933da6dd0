#include "ui/SystemSound.h"

#include "platform/Logging.h"

#include <QAudioDevice>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>
#include <QtEndian>

namespace ui {

namespace {
// Time a real output gets beyond the sound's length before the clock completes for it.
constexpr int kOutputGraceMs = 1000;

bool& loggedNoOutput() {
    static bool logged = false;
    return logged;
}

QString localPath(const QString& url) {
    const QUrl u(url);
    if (u.scheme() == QLatin1String("qrc")) return QLatin1Char(':') + u.path();
    if (u.isLocalFile()) return u.toLocalFile();
    return url;
}
}  // namespace

std::optional<int> SystemSound::wavLengthMs(const QByteArray& wav) {
    if (wav.size() < 12 || !wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE") return std::nullopt;
    quint32 byteRate = 0;
    qsizetype pos = 12;
    while (pos + 8 <= wav.size()) {
        const QByteArray id = wav.mid(pos, 4);
        const quint32 size = qFromLittleEndian<quint32>(wav.constData() + pos + 4);
        const qsizetype body = pos + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= wav.size()) {
            byteRate = qFromLittleEndian<quint32>(wav.constData() + body + 8);
        } else if (id == "data") {
            if (byteRate == 0) return std::nullopt;
            // A truncated file plays what it has.
            const quint64 bytes = std::min<quint64>(size, static_cast<quint64>(wav.size() - body));
            return static_cast<int>(bytes * 1000 / byteRate);
        }
        pos = body + size + (size & 1);
    }
    return std::nullopt;
}

SystemSound::SystemSound(const QString& url, QObject* parent)
    : QObject(parent), url_(url), fallback_(new QTimer(this)) {
    fallback_->setSingleShot(true);
    connect(fallback_, &QTimer::timeout, this, &SystemSound::finish);
    QFile file(localPath(url));
    if (file.open(QIODevice::ReadOnly)) lengthMs_ = wavLengthMs(file.read(4 * 1024 * 1024));
    if (!lengthMs_)
        qCWarning(lcApp).noquote() << "sound" << url << "is missing or not a WAV file; its completion comes without it";

    if (hasOutput()) {
        effect_ = new QSoundEffect(this);
        effect_->setSource(QUrl(url));
        connect(effect_, &QSoundEffect::playingChanged, this, [this] {
            if (effect_->isPlaying())
                started_ = true;
            else if (started_)
                finish();
        });
        connect(effect_, &QSoundEffect::statusChanged, this, [this] {
            if (effect_->status() == QSoundEffect::Error) {
                qCWarning(lcApp).noquote()
                    << "sound" << url_ << "cannot be played; its completion comes after its length";
            }
        });
    } else if (!loggedNoOutput()) {
        loggedNoOutput() = true;
        qCInfo(lcApp) << "no audio output: sounds are silent and complete after their length";
    }
}

SystemSound::~SystemSound() = default;

bool SystemSound::hasOutput() const {
    return !QMediaDevices::audioOutputs().isEmpty();
}

void SystemSound::play(std::function<void()> completion) {
    if (completion) pending_.push_back(std::move(completion));
    const int length = lengthMs_.value_or(0);
    started_ = false;
    if (effect_ && effect_->status() != QSoundEffect::Error && lengthMs_) {
        effect_->stop();
        effect_->play();
        // The output reports the end itself; the clock only covers an output that never does.
        fallback_->start(length + kOutputGraceMs);
    } else {
        fallback_->start(length);
    }
}

void SystemSound::finish() {
    fallback_->stop();
    started_ = false;
    auto done = std::move(pending_);
    pending_.clear();
    for (auto& fn : done) fn();
}

}  // namespace ui
