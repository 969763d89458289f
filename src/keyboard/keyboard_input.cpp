#include <QAccessible>
#include <QKeyEvent>
#include <utility>

#include "accessible_widgets.h"
#include "held_notes.h"
#include "main_window.h"
#include "message_box.h"
#include "module1.h"
#include "version.h"

namespace keyboard {
namespace {

constexpr std::int16_t VK_ESCAPE = 27;
constexpr std::int16_t VK_NUMPAD0 = 96;
constexpr std::int16_t VK_F1 = 112;
constexpr std::int16_t VK_F2 = 113;
constexpr std::int16_t VK_F3 = 114;
constexpr std::int16_t VK_F4 = 115;
constexpr std::int16_t VK_F5 = 116;
constexpr std::int16_t VK_F6 = 117;
constexpr std::int16_t VK_F7 = 118;
constexpr std::int16_t VK_F8 = 119;
constexpr std::int16_t VK_F9 = 120;
constexpr std::int16_t VK_F11 = 122;
constexpr std::int16_t VK_F12 = 123;

// X11 and Wayland key codes (Linux key code + 8) of the 36 piano keys: they name the key's place
// on the keyboard, whatever Shift and the keyboard layout make of it.
std::int16_t PianoKeyOfScanCode(quint32 scan) {
    static constexpr char digits[] = "1234567890";
    static constexpr char qRow[] = "QWERTYUIOP";
    static constexpr char aRow[] = "ASDFGHJKL";
    static constexpr char zRow[] = "ZXCVBNM";
    if (scan >= 10 && scan <= 19) return digits[scan - 10];
    if (scan >= 24 && scan <= 33) return qRow[scan - 24];
    if (scan >= 38 && scan <= 46) return aRow[scan - 38];
    if (scan >= 52 && scan <= 58) return zRow[scan - 52];
    return 0;
}

std::int16_t VirtualKeyOfQtKey(int key, bool keypad) {
    if (keypad) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            return static_cast<std::int16_t>(96 + key - Qt::Key_0);
        if (key == Qt::Key_Insert) return 45;
    }
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)) {
        return static_cast<std::int16_t>(key);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return static_cast<std::int16_t>(VK_F1 + key - Qt::Key_F1);
    // Shifted digits of a US keyboard, for events that carry no key position.
    static constexpr char shiftedDigits[] = ")!@#$%^&*(";
    for (int d = 0; d < 10; ++d) {
        if (key == shiftedDigits[d]) return static_cast<std::int16_t>('0' + d);
    }
    switch (key) {
        case Qt::Key_Escape:
            return VK_ESCAPE;
        case Qt::Key_Backspace:
            return 8;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 9;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 13;
        case Qt::Key_Shift:
            return 16;
        case Qt::Key_Control:
            return 17;
        case Qt::Key_Alt:
            return 18;
        case Qt::Key_Pause:
            return 19;
        case Qt::Key_CapsLock:
            return 20;
        case Qt::Key_Space:
            return 32;
        case Qt::Key_PageUp:
            return 33;
        case Qt::Key_PageDown:
            return 34;
        case Qt::Key_End:
            return 35;
        case Qt::Key_Home:
            return 36;
        case Qt::Key_Left:
            return 37;
        case Qt::Key_Up:
            return 38;
        case Qt::Key_Right:
            return 39;
        case Qt::Key_Down:
            return 40;
        case Qt::Key_Print:
            return 44;
        case Qt::Key_Insert:
            return 45;
        case Qt::Key_Delete:
            return 46;
        case Qt::Key_Meta:
            return 91;
        case Qt::Key_Menu:
            return 93;
        case Qt::Key_NumLock:
            return 144;
        case Qt::Key_ScrollLock:
            return 145;
        case Qt::Key_Semicolon:
            return 186;
        case Qt::Key_Equal:
            return 187;
        case Qt::Key_Comma:
            return 188;
        case Qt::Key_Minus:
            return 189;
        case Qt::Key_Period:
            return 190;
        case Qt::Key_Slash:
            return 191;
        case Qt::Key_QuoteLeft:
            return 192;
        case Qt::Key_BracketLeft:
            return 219;
        case Qt::Key_Backslash:
            return 220;
        case Qt::Key_BracketRight:
            return 221;
        case Qt::Key_Apostrophe:
            return 222;
        default:
            return 0;
    }
}

}  // namespace

std::int16_t Form1::VirtualKeyCode(const QKeyEvent& event) {
#if defined(Q_OS_WIN)
    if (event.nativeVirtualKey() > 0 && event.nativeVirtualKey() < 256) {
        return static_cast<std::int16_t>(event.nativeVirtualKey());
    }
#else
    if (const std::int16_t piano = PianoKeyOfScanCode(event.nativeScanCode())) return piano;
#endif
    return VirtualKeyOfQtKey(event.key(), event.modifiers().testFlag(Qt::KeypadModifier));
}

void Form1::KeyPressed(const QKeyEvent& event) {
    const std::int16_t code = VirtualKeyCode(event);
    if (code == 0) return;
    // X11 repeats a held key as release-press pairs with one time; when the pair arrives
    // unmarked, the press takes its release back and the key simply stays down.
    for (auto it = m_pendingReleases.begin(); it != m_pendingReleases.end(); ++it) {
        if (it->code == code && it->timestamp == event.timestamp()) {
            m_pendingReleases.erase(it);
            return;
        }
    }
    FlushPendingReleases();
    Picture1_KeyDown(code);
}

void Form1::KeyReleased(const QKeyEvent& event) {
    // A release that the system marks as auto-repeat is not a release: the key is still down.
    if (event.isAutoRepeat()) return;
    const std::int16_t code = VirtualKeyCode(event);
    if (code == 0) return;
    // While an assistive technology listens, Qt's bridge holds every key event until the
    // screen reader has seen it and then delivers a copy without its time: the repeat pair
    // then comes apart by a round trip and is known only by having no time on either half.
    const bool relayed = QAccessible::isActive();
    if (m_releasesAreReal || (event.timestamp() == 0 && !relayed)) {
        // A real release, or one made by a program: no repeat pair to wait for.
        FlushPendingReleases();
        Picture1_KeyUp(code);
        return;
    }
    m_pendingReleases.push_back({code, event.timestamp()});
    m_releaseTimer.start(relayed ? RelayedReleaseSettleMs : ReleaseSettleMs);
}

void Form1::FlushPendingReleases() {
    m_releaseTimer.stop();
    const auto releases = std::exchange(m_pendingReleases, {});
    for (const PendingRelease& release : releases) Picture1_KeyUp(release.code);
}

// Typed and clicked notes are counted with those of a MIDI keyboard: a note held on both ends
// when both have let go.
Form1::SoundingNote Form1::StartNote(std::int16_t note) {
    const std::int32_t channel = Module1::MidiChannel;
    if (Module1::PackNoteMessage(note, channel, true))
        midi::playerNotes().press(channel, 60 + note, 127);
    if (m_playerNoteObserver) m_playerNoteObserver(note, true);
    return {note, channel};
}

void Form1::EndNote(const SoundingNote& sounding) {
    if (Module1::PackNoteMessage(sounding.note, sounding.channel, false)) {
        midi::playerNotes().release(sounding.channel, 60 + sounding.note);
    }
    if (m_playerNoteObserver) m_playerNoteObserver(sounding.note, false);
}

void Form1::Picture1_KeyDown(std::int16_t keyCode) {
    if (keyCode < 0 || keyCode > 255) return;
    const auto code = static_cast<std::size_t>(keyCode);
    if (m_keyHeld[code] == 1) return;
    if (keyCode < VK_F1) m_keyHeld[code] = 1;
    if (const auto key = KeyOfVirtualKey(keyCode)) {
        const auto k = static_cast<std::size_t>(*key);
        m_keySounding[k] = StartNote(m_tables.KeyNote[k]);
        HoldMark(static_cast<std::int16_t>(*key), true);
        return;
    }
    switch (keyCode) {
        case VK_NUMPAD0:
            ToggleChannelList();
            break;
        case VK_F2:
            if (m_hooks.showAutoPerformance) m_hooks.showAutoPerformance();
            break;
        case VK_F3:
            if (m_hooks.showPractice) m_hooks.showPractice();
            break;
        case VK_F4:
            SetLayout(LayoutF4);
            break;
        case VK_F5:
            SetLayout(LayoutF5);
            break;
        case VK_F6:
            SetLayout(LayoutF6);
            break;
        case VK_F7:
            SetLayout(LayoutF7);
            break;
        case VK_F8:
            if (m_readAhead) m_readAhead();
            break;
        case VK_F9:
            close();
            break;
        case VK_F11:
            if (m_hooks.showHelp) m_hooks.showHelp();
            break;
        case VK_F12:
            ShowVersion();
            break;
        case VK_ESCAPE:
            if (!(m_hooks.stopPractice && m_hooks.stopPractice())) PrintLayout();
            m_keyHeld[VK_ESCAPE] = 0;
            break;
        default:
            break;
    }
}

void Form1::Picture1_KeyUp(std::int16_t keyCode) {
    if (keyCode < 0 || keyCode > 255) return;
    const auto code = static_cast<std::size_t>(keyCode);
    if (m_keyHeld[code] == 0) return;
    if (const auto key = KeyOfVirtualKey(keyCode)) {
        auto& sounding = m_keySounding[static_cast<std::size_t>(*key)];
        if (sounding) EndNote(*sounding);
        sounding.reset();
        HoldMark(static_cast<std::int16_t>(*key), false);
    }
    if (keyCode < VK_F1) m_keyHeld[code] = 0;
}

void Form1::ReleaseAllHeldKeys() {
    m_releaseTimer.stop();
    m_pendingReleases.clear();
    for (int code = 0; code < VK_F1; ++code) {
        if (m_keyHeld[static_cast<std::size_t>(code)] != 0) {
            Picture1_KeyUp(static_cast<std::int16_t>(code));
        }
    }
    MouseLost();
}

void Form1::SetLayout(std::int16_t degree) {
    m_layoutDegree = degree;
    RedrawPicture();
}

void Form1::ShowVersion() {
    const QString text = QStringLiteral("ﾊﾞｰｼﾞｮﾝ %1.%2.%3")
                             .arg(ui::VersionMajor)
                             .arg(ui::VersionMinor)
                             .arg(ui::VersionRevision);
    ui::showMessage(this, {text, ui::AppTitle + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"), ui::Icon::None,
                           ui::Buttons::Ok});
}

void Form1::ToggleChannelList() {
    m_combo->setVisible(!m_combo->isVisible());
    // The keys keep the focus, so a screen reader hears the list by an announcement.
    if (m_combo->isVisible()) {
        ui::Announce(m_picture, m_combo->accessibleName() + QLatin1Char(' ') +
                                    m_combo->currentText().trimmed());
    }
}

}  // namespace keyboard
