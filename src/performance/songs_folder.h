// Where the songs that come with the program are installed.
#pragma once

#include <QString>
#include <QStringList>

namespace performance {

// The songs folder of this installation: share/muruteka/songs beside the program's bin folder
// (also in a package unpacked anywhere), else the first data folder of the desktop that has
// muruteka/songs. Empty when there is none, as in a build folder.
QString SongsFolder(const QString& programDir, const QStringList& dataDirs);

}  // namespace performance
