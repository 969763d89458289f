#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>

#include "accessible_widgets.h"
#include "held_notes.h"
#include "keyboard_accessibility.h"
#include "message_box.h"
#include "module1.h"
#include "twips.h"
#include "x11_key_repeat.h"

namespace keyboard {

Form1::Form1(Form1Hooks hooks, QWidget* parent) : QWidget(parent), m_hooks(std::move(hooks)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(ui::AppTitle);
    InstallKeyboardAccessibility();
    resize(ui::twipsToPixelsX(7005, *this), ui::twipsToPixelsY(3000, *this));

    m_picture = new Picture1(this);
    m_picture->setGeometry(ui::twipsRect(0, 0, 7005, 3000, *this));
    m_picture->onKeyPress = [this](QKeyEvent* e) { KeyPressed(*e); };
    m_picture->onKeyRelease = [this](QKeyEvent* e) { KeyReleased(*e); };
    m_releaseTimer.setSingleShot(true);
    m_releaseTimer.setInterval(ReleaseSettleMs);
    connect(&m_releaseTimer, &QTimer::timeout, this, [this] { FlushPendingReleases(); });
    m_releasesAreReal = RequestRealKeyReleases();
    auto moveTo = [this](QMouseEvent* e) {
        Picture1_MouseMove(static_cast<float>(m_picture->toUnitX(e->position().x())),
                           static_cast<float>(m_picture->toUnitY(e->position().y())));
    };
    m_picture->onMouseMove = moveTo;
    m_picture->onMousePress = [this, moveTo](QMouseEvent* e) {
        moveTo(e);
        Picture1_MouseDown();
    };
    m_picture->onMouseRelease = [this, moveTo](QMouseEvent* e) {
        moveTo(e);
        Picture1_MouseUp();
    };
    m_picture->onFocusLost = [this] { ReleaseAllHeldKeys(); };
    m_picture->onMouseLost = [this] { MouseLost(); };

    m_combo = new ui::NamedComboBox(this);
    m_combo->setObjectName(QStringLiteral("Combo1"));
    m_combo->setGeometry(ui::twipsRect(500, 2600, 1000, 300, *this));
    m_combo->setEditable(false);
    m_combo->setAccessibleName(QStringLiteral("MIDIチャンネル"));
    m_combo->hide();
    m_combo->raise();
    connect(m_combo, &QComboBox::currentIndexChanged, this, [this] { Combo1_Click(); });
    setTabOrder(m_picture, m_combo);
    m_picture->setFocus();
}

Form1::~Form1() {
    // Qt takes the picture down after this object's members are gone, and the picture loses the
    // focus on the way: its callbacks must not reach into the half-destroyed window then.
    m_picture->onFocusLost = nullptr;
    m_picture->onMouseMove = nullptr;
    m_picture->onMousePress = nullptr;
    m_picture->onMouseRelease = nullptr;
    if (m_midiThru != nullptr) m_midiThru->setWake(nullptr);
}

void Form1::Form_Load(const std::string& commandLine) {
    if (midi::midiOutGetNumDevs() == 0) {
        ui::beep();
        ui::showMessage(nullptr, {QStringLiteral("ご使用の環境では、MIDI音源を使用できません。"),
                                  ui::AppTitle, ui::Icon::None, ui::Buttons::Ok});
        // The window still opens, silent; the keyboard is drawn as usual.
        m_midiAvailable = false;
        m_layoutDegree = LayoutF6;
        DrawPicture();
        return;
    }
    m_midiAvailable = true;
    midi::midiOutOpen(&Module1::hMidiOut, midi::MIDI_MAPPER);
    midi::playerNotes().clear();
    m_printing = 0;
    m_layoutDegree = LayoutF6;
    Module1::CommandLineFile = commandLine;
    {
        const QSignalBlocker blocker(m_combo);
        for (int n = 0; n <= 15; ++n) m_combo->addItem(QStringLiteral(" %1").arg(n));
        m_combo->setCurrentIndex(0);
    }
    Combo1_Click();
    m_keyHeld.fill(0);
    DrawPicture();
    if (!Module1::CommandLineFile.empty()) {
        if (m_hooks.showAutoPerformance) m_hooks.showAutoPerformance();
        Module1::CommandLineFile.clear();
    }
}

void Form1::Combo1_Click() {
    Module1::SetChannel(m_combo->currentIndex());
}

void Form1::Form_Unload() {
    if (m_unloaded) return;
    m_unloaded = true;
    ReleaseAllHeldKeys();
    if (m_midiThru != nullptr) m_midiThru->stop();
    midi::midiOutClose(Module1::hMidiOut);
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void Form1::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) ReleaseAllHeldKeys();
    // Restored from minimized, the window keeps its size, so no resize redraws it: it is redrawn
    // here as a size change would, help hint included.
    if (event->type() == QEvent::WindowStateChange &&
        static_cast<QWindowStateChangeEvent*>(event)->oldState().testFlag(Qt::WindowMinimized) &&
        !isMinimized()) {
        Form_Resize();
    }
}

bool Form1::event(QEvent* event) {
    // A dialog or message box opened from the keyboard has closed. Without a window manager
    // nothing gives the keyboard back to this window, and typing would play nothing; it is taken
    // back once the dialog is really gone.
    if (event->type() == QEvent::WindowUnblocked && isVisible()) {
        QTimer::singleShot(0, this, [this] { TakeKeyboardBack(); });
    }
    return QWidget::event(event);
}

void Form1::TakeKeyboardBack() {
    if (!isVisible() || m_unloaded || QApplication::activeModalWidget() != nullptr) return;
    activateWindow();
    m_picture->setFocus(Qt::ActiveWindowFocusReason);
}

void Form1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

}  // namespace keyboard
