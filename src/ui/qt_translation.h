// Qt's own texts (the standard buttons of message boxes, the file chooser) in Japanese, like every
// other text of the program, whatever the user's locale.
#pragma once

#include <QLibraryInfo>
#include <QString>

class QTranslator;

namespace ui {

// Installs qtbase_ja.qm from the folder into the application. Returns the installed translator
// (owned by the application), or nullptr when the file is missing or unreadable: Qt then keeps
// its English texts and the program runs on.
QTranslator* InstallQtJapanese(
    const QString& folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath));

}  // namespace ui
