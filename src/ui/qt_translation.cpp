#include "qt_translation.h"

#include <QCoreApplication>
#include <QTranslator>

namespace ui {

QTranslator* InstallQtJapanese(const QString& folder) {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ja"), folder) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

}  // namespace ui
