#include "VideosFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "media/Asset.h"
#include "media/ImageGenerator.h"
#include "media/OutputFile.h"
#include "platform/Logging.h"
#include "platform/Background.h"

QString VideosFolder::folder() {
    QString videos = qEnvironmentVariable("XDG_VIDEOS_DIR");
    if (videos.isEmpty() || !QDir::isAbsolutePath(videos))
        videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return QDir::cleanPath(videos + QStringLiteral("/Tavrio"));
}

bool VideosFolder::videoAtPathIsCompatible(const QString& moviePath, QString* reason) {
    media::Error error;
    auto asset = media::Asset::open(moviePath.toStdString(), &error);
    if (asset && asset->tracksWithMediaType(media::MediaType::Video).empty()) {
        if (reason) *reason = QStringLiteral("The movie has no pictures.");
        return false;
    }
    if (asset) {
        media::ImageGenerator generator(moviePath.toStdString());
        generator.setMaximumSize({16, 16});
        if (!generator.copyFirstImage(&error).isNull()) return true;
    }
    if (reason) *reason = QString::fromStdString(error.description);
    return false;
}

QString VideosFolder::copyVideo(const QString& moviePath, const QString& toFolder, QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return QString();
    };
    QFile source(moviePath);
    if (!source.open(QIODevice::ReadOnly)) return fail(source.errorString());
    // Made with the system's reason when it cannot be: the user is told why, not only that.
    std::error_code made;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(toFolder).toStdString()), made);
    if (made || !QFileInfo(toFolder).isDir())
        return fail(QStringLiteral("The folder %1 cannot be made: %2.")
                        .arg(toFolder, made ? QString::fromLocal8Bit(made.message()) : QStringLiteral("it is a file")));

    const QFileInfo info(moviePath);
    const QString stem = info.completeBaseName(), suffix = info.suffix();
    auto nameFor = [&](int n) {
        QString name = n == 0 ? stem : QStringLiteral("%1-%2").arg(stem).arg(n);
        if (!suffix.isEmpty()) name += QLatin1Char('.') + suffix;
        return QDir(toFolder).filePath(name);
    };
    // Start at the first name free now; the commit moves on by itself if one is taken meanwhile.
    int n = 0;
    while (QFileInfo::exists(nameFor(n)) || QFileInfo(nameFor(n)).isSymLink()) ++n;

    media::Error e;
    auto out = media::OutputFile::create(nameFor(n).toStdString(), &e);
    if (!out) return fail(QString::fromStdString(e.description + " " + e.failureReason).trimmed());
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const qint64 got = source.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (got < 0) return fail(source.errorString());
        if (got == 0) break;
        if (!out->write(buffer.data(), static_cast<size_t>(got), &e))
            return fail(QString::fromStdString(e.description + " " + e.failureReason).trimmed());
    }
    const bool committed =
        out->commit(media::OutputFile::Commit::ClaimFree, &e, [&] { return nameFor(++n).toStdString(); });
    if (!committed) return fail(QString::fromStdString(e.description + " " + e.failureReason).trimmed());
    return QString::fromStdString(out->finalPath());
}

QString VideosFolder::savedCopyOf(const QString& moviePath, const QString& inFolder) {
    QFile movie(moviePath);
    if (!movie.open(QIODevice::ReadOnly)) return QString();
    const qint64 size = movie.size();
    const QFileInfoList candidates = QDir(inFolder).entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Name);
    std::vector<char> a(1 << 20), b(1 << 20);
    for (const QFileInfo& candidate : candidates) {
        if (candidate.size() != size) continue;
        QFile copy(candidate.filePath());
        if (!copy.open(QIODevice::ReadOnly) || !movie.seek(0)) continue;
        bool same = true;
        for (;;) {
            const qint64 got = movie.read(a.data(), qint64(a.size()));
            if (got <= 0) {
                same = got == 0;
                break;
            }
            if (copy.read(b.data(), got) != got || std::memcmp(a.data(), b.data(), size_t(got)) != 0) {
                same = false;
                break;
            }
        }
        if (same) return candidate.filePath();
    }
    return QString();
}

QString VideosFolder::shortLocation(const QString& savedPath) {
    const QFileInfo info(savedPath);
    const QDir folder = info.dir();
    QDir parent = folder;
    if (!parent.cdUp()) return info.filePath();
    return parent.dirName() + QLatin1Char('/') + folder.dirName() + QLatin1Char('/') + info.fileName();
}

void VideosFolder::writeVideoAtPath(const QString& moviePath, QObject* context, Completion completion,
                                    bool evenIfSaved) {
    // The folder's name may come from a file (user-dirs.dirs): found off the main thread too.
    auto work = [moviePath, evenIfSaved] {
        const QString target = folder();
        Outcome outcome = Outcome::Saved;
        QString result, reason;
        if (!videoAtPathIsCompatible(moviePath, &reason)) {
            qCWarning(lcLibrary).noquote() << "Incompatible File" << moviePath << reason;
            outcome = Outcome::Incompatible;
            result = reason;
        } else if (const QString copy = evenIfSaved ? QString() : savedCopyOf(moviePath, target); !copy.isEmpty()) {
            outcome = Outcome::AlreadySaved;
            result = copy;
        } else {
            result = copyVideo(moviePath, target, &reason);
            if (result.isEmpty()) {
                outcome = Outcome::Failed;
                result = reason;
                qCWarning(lcLibrary).noquote() << "cannot save" << moviePath << "to" << target << ":" << reason;
            }
        }
        return std::pair<Outcome, QString>(outcome, result);
    };
    platform::Background::run(
        context, std::move(work),
        [completion = std::move(completion)](const std::pair<Outcome, QString>& r) {
            if (completion) completion(r.first, r.second);
        },
        platform::Background::Lane::Normal, "saved to Videos");
}
