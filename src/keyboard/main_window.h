// Form1, the keyboard window: start-up and shutdown, the drawn keyboard, typing and mouse playing.
#pragma once

#include <QComboBox>
#include <QPrinter>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "key_layout.h"
#include "keyboard_drawing.h"
#include "midi_thru.h"

namespace keyboard {

// What Form1 asks of the rest of the program: the dialogs and printing live in other parts.
struct Form1Hooks {
    std::function<void()> showAutoPerformance;  // F2, and a file named on the command line
    std::function<void()> showHelp;             // F11
    std::function<void()> showPractice;         // F3
    // Esc: stops a practice and answers true; false when none runs, and Esc prints.
    std::function<bool()> stopPractice;
};

// Replaces the default printer, for tests.
void setPrinterFactory(std::function<std::unique_ptr<QPrinter>()> factory);

class Form1 : public QWidget {
    Q_OBJECT
  public:
    explicit Form1(Form1Hooks hooks = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up sequence: MIDI check, tables, channel list, the first drawing, and the
    // automatic-performance dialog when a file was named on the command line.
    void Form_Load(const std::string& commandLine);
    void Form_Resize();
    void Form_Unload();
    void Combo1_Click();

    // Toggles the mark of key k on the picture; nothing while printing or for k < 1.
    void BarFunc(std::int16_t k);
    void DrawKeyboard(DrawingSurface& surface);

    void Picture1_KeyDown(std::int16_t keyCode);
    void Picture1_KeyUp(std::int16_t keyCode);
    void Picture1_MouseMove(float x, float y);
    void Picture1_MouseDown();
    void Picture1_MouseUp();

    // Esc: prints the current layout on the default printer after asking.
    void PrintLayout();
    // The drawing pass on a printer; false when the page could not be printed.
    bool PrintLayoutOn(QPrinter& printer);
    bool PrintLayoutToPdf(const QString& path);
    void SetLayoutDegree(std::int16_t degree) { m_layoutDegree = degree; }
    // F4-F7: the layout, and the keyboard drawn afresh in it.
    void SetLayout(std::int16_t degree);

    // Told of every note the player starts or ends at the window, typed or clicked, once it has
    // been sent. Empty: nobody listens.
    using PlayerNoteObserver = std::function<void(std::int16_t note, bool on)>;
    void setPlayerNoteObserver(PlayerNoteObserver observer) {
        m_playerNoteObserver = std::move(observer);
    }

    // Practice: the keys that play these notes in the current layout carry the next-key mark,
    // also after a layout change, until the next call. An empty list takes the marks away.
    void SetNextNotes(std::vector<std::int16_t> notes);
    const std::vector<std::int16_t>& NextNotes() const { return m_nextNotes; }
    // A strip shown above the drawn keyboard (practice's key tape), of its height at the time:
    // the window grows by it, or the keyboard gives it room when the window is maximized. Null
    // takes it away and the window returns to its size. The strip is repainted whenever the
    // keyboard is drawn afresh (a new layout).
    void SetTopStrip(QWidget* strip);
    QWidget* TopStrip() const { return m_topStrip; }
    // F8: what it does, if anything (reading the key tape aloud); empty: nothing, as before.
    void setReadAhead(std::function<void()> readAhead) { m_readAhead = std::move(readAhead); }
    // Notes from a MIDI keyboard: their keys are marked while they sound and the player-note
    // observer hears of them, as of typed keys. The thru must outlive the window; it is stopped
    // (its notes ended) when the window unloads.
    void ConnectMidiInput(midi::MidiThru& thru);

    // Ends every note that the keyboard or the mouse is holding, as if its key were let go.
    void ReleaseAllHeldKeys();
    // Ends the note the mouse is playing, once, on the channel it started on.
    void MouseLost();

    // Windows virtual-key code of a key event: by keyboard position for the 36 piano keys, so
    // that neither Shift nor the keyboard layout changes which piano key plays. 0: not used.
    static std::int16_t VirtualKeyCode(const QKeyEvent& event);

    Picture1* picture() { return m_picture; }
    QComboBox* channelList() { return m_combo; }
    const NoteTables& noteTables() const { return m_tables; }
    std::int16_t LayoutDegree() const { return m_layoutDegree; }
    bool midiAvailable() const { return m_midiAvailable; }
    std::int16_t KeyHeld(int code) const { return m_keyHeld[static_cast<std::size_t>(code)]; }
    void SetPrinting(bool printing) { m_printing = printing ? 1 : 0; }
    std::int16_t Printing() const { return m_printing; }
    std::int16_t MouseKey() const { return m_mouseKey; }
    // Whether key k shows a sounding mark (the black keys' resting marks do not count).
    bool KeyMarked(int k) const { return m_markToggled[static_cast<std::size_t>(k)]; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

  private:
    // A note the keyboard or the mouse started, kept so that it ends as it began.
    struct SoundingNote {
        std::int16_t note = NoNote;
        std::int32_t channel = 0;
    };

    void KeyPressed(const QKeyEvent& event);
    void KeyReleased(const QKeyEvent& event);
    void FlushPendingReleases();
    void ShowVersion();
    void ToggleChannelList();
    void TakeKeyboardBack();
    void RedrawPicture();
    void DrawPicture();
    void InvertKeySquare(int k);
    void ShowNextKeys();
    SoundingNote StartNote(std::int16_t note);
    void EndNote(const SoundingNote& sounding);
    // Key k's mark is on while anything holds it (a typed key, the mouse, a MIDI note).
    void HoldMark(std::int16_t k, bool on);
    void ShowIncomingNotes();

    Form1Hooks m_hooks;
    PlayerNoteObserver m_playerNoteObserver;
    Picture1* m_picture = nullptr;
    QComboBox* m_combo = nullptr;
    NoteTables m_tables;
    std::int16_t m_layoutDegree = LayoutF6;
    std::int16_t m_printing = 0;
    std::array<std::int16_t, 256> m_keyHeld{};
    KeyTable<std::optional<SoundingNote>> m_keySounding{};
    // Keys whose mark is toggled away from the drawing's resting state.
    KeyTable<bool> m_markToggled{};
    std::vector<std::int16_t> m_nextNotes;
    QWidget* m_topStrip = nullptr;
    int m_stripHeight = 0;
    bool m_stripGrew = false;  // the window grew by m_stripHeight for the strip
    std::function<void()> m_readAhead;
    bool m_drawingPass = false;
    std::int16_t m_mouseKey = 0;
    std::int16_t m_mouseDownKey = 0;
    bool m_mouseMarkOff = true;
    std::optional<SoundingNote> m_mouseSounding;
    // Key releases wait this long for a press with the same time, the second half of an
    // auto-repeat pair that the window system did not mark as such.
    static constexpr int ReleaseSettleMs = 5;
    static constexpr int RelayedReleaseSettleMs = 30;
    struct PendingRelease {
        std::int16_t code;
        quint64 timestamp;
    };
    std::vector<PendingRelease> m_pendingReleases;
    QTimer m_releaseTimer;
    // The X server repeats a held key as presses alone: a release then always means the key
    // went up, and it is acted on at once.
    bool m_releasesAreReal = false;
    bool m_midiAvailable = false;
    bool m_unloaded = false;
    KeyTable<std::int16_t> m_markHolders{};
    midi::MidiThru* m_midiThru = nullptr;
    // The key marked for each MIDI note sounding from the input, or 0.
    std::array<std::int16_t, 128> m_incomingKey{};
};

}  // namespace keyboard
