#include "x11_key_repeat.h"

#include <QGuiApplication>
#include <cstdlib>
#include <memory>

#if defined(MURUTEKA_XCB_XKB)
// The XKB protocol header names a field "explicit", a keyword in C++.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit
#endif

namespace keyboard {

bool RequestRealKeyReleases() {
#if defined(MURUTEKA_XCB_XKB) && QT_CONFIG(xcb)
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (connection == nullptr) return false;
    // The window system has already enabled XKB on its connection; a server without it answers
    // with an error, and the reply is then null.
    constexpr std::uint32_t Flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    const auto cookie =
        xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, Flag, Flag, 0, 0, 0);
    const std::unique_ptr<xcb_xkb_per_client_flags_reply_t, decltype(&std::free)> reply(
        xcb_xkb_per_client_flags_reply(connection, cookie, nullptr), &std::free);
    return reply != nullptr && (reply->supported & Flag) != 0 && (reply->value & Flag) != 0;
#else
    return false;
#endif
}

}  // namespace keyboard
