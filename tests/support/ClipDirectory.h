#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace tastavia::testing {

// A working directory laid out as the program expects it at start-up: the
// advert clip under Ad/, copied from the one the program ships.
class ClipDirectory
{
public:
    explicit ClipDirectory(bool withClip = true)
    {
        if (withClip) {
            QDir(dir_.path()).mkpath(QStringLiteral("Ad"));
            QFile::copy(QStringLiteral(TASTAVIA_SOURCE_DIR "/Ad/ad01.avi"), clipPath());
        }
    }
    QString path() const { return dir_.path(); }
    QString clipPath() const { return dir_.path() + QStringLiteral("/Ad/ad01.avi"); }
    void enter() const { QDir::setCurrent(dir_.path()); }

private:
    QTemporaryDir dir_;
};

} // namespace tastavia::testing
