// A file manager for end-to-end tests: owns org.freedesktop.FileManager1 on the session bus and
// prints every URI it is asked to show, one a line, as a real file manager would open them.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>
#include <QStringList>

#include <cstdio>

class FileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public slots:
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString&) {
        for (const QString& uri : uris) std::printf("%s\n", uri.toUtf8().constData());
        std::fflush(stdout);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    FileManager manager;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject("/org/freedesktop/FileManager1", &manager, QDBusConnection::ExportScriptableSlots) ||
        !bus.registerService("org.freedesktop.FileManager1")) {
        std::fprintf(stderr, "cannot own org.freedesktop.FileManager1\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "TestFileManager.moc"
