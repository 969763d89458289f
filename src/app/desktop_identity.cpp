#include "desktop_identity.h"

#include <QApplication>
#include <QIcon>

namespace app {

void PresentToDesktop() {
    QGuiApplication::setDesktopFileName(QStringLiteral(MURUTEKA_APP_ID));
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icon/muruteka-%1.png").arg(size), QSize(size, size));
    }
    // Every window and dialog without an icon of its own shows this one.
    QApplication::setWindowIcon(icon);
}

}  // namespace app
