#include "songs_folder.h"

#include <QDir>
#include <QFileInfo>

namespace performance {

QString SongsFolder(const QString& programDir, const QStringList& dataDirs) {
    QStringList candidates{programDir + QStringLiteral("/../share/muruteka/songs")};
    for (const QString& dir : dataDirs)
        candidates.push_back(dir + QStringLiteral("/muruteka/songs"));
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isDir()) return QDir::cleanPath(info.absoluteFilePath());
    }
    return {};
}

}  // namespace performance
