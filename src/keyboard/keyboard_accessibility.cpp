#include "keyboard_accessibility.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QHash>
#include <QLabel>
#include <QPointer>
#include <array>

#include "accessible_widgets.h"
#include "keyboard_drawing.h"
#include "main_window.h"

namespace keyboard {
namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

class PictureAccessible;

// "配列 F4、ドは Q": the F-key that chooses the layout and the letter key of ド.
QString LayoutSentence(std::int16_t layoutDegree) {
    const std::pair<std::int16_t, int> fKeys[] = {
        {LayoutF4, 4}, {LayoutF5, 5}, {LayoutF6, 6}, {LayoutF7, 7}};
    int fKey = 0;
    for (const auto& [degree, number] : fKeys) {
        if (degree == layoutDegree) fKey = number;
    }
    QString doKey;
    for (int k = 11; k <= 20 && doKey.isEmpty(); ++k) {  // Q .. P
        if (AccessibleKeyName(k, layoutDegree).endsWith(QStringLiteral(" ド"))) {
            doKey = QChar(KeyCharacter[static_cast<std::size_t>(k)]);
        }
    }
    return QStringLiteral("配列 F%1、ドは %2").arg(fKey).arg(doKey);
}

// The live keyboard interfaces, so that the window's hooks find theirs without creating one.
QHash<const Picture1*, PictureAccessible*>& liveKeyboards() {
    static QHash<const Picture1*, PictureAccessible*> keyboards;
    return keyboards;
}

// One drawn key. It has no object of its own: everything is read from the picture's window.
class KeyAccessible final : public QAccessibleInterface {
  public:
    KeyAccessible(PictureAccessible& keyboard, int k, bool second)
        : m_keyboard(keyboard), m_key(k), m_second(second) {}

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override;

  private:
    PictureAccessible& m_keyboard;
    int m_key;
    bool m_second;  // the key's second identity
};

class PictureAccessible final : public QAccessibleWidget {
  public:
    explicit PictureAccessible(Picture1* picture)
        : QAccessibleWidget(picture, QAccessible::Pane),
          m_picture(picture),
          m_registeredAs(picture) {
        for (int k = 1; k <= KeyCount; ++k) {
            for (std::size_t identity = 0; identity < m_keyIds.size(); ++identity) {
                m_keyIds[identity][static_cast<std::size_t>(k)] =
                    QAccessible::registerAccessibleInterface(
                        new KeyAccessible(*this, k, identity == 1));
            }
        }
        m_spokenLayout = form() ? form()->LayoutDegree() : LayoutF6;
        liveKeyboards().insert(picture, this);
    }
    ~PictureAccessible() override {
        liveKeyboards().remove(m_registeredAs);
        for (int k = 1; k <= KeyCount; ++k) {
            for (const auto& ids : m_keyIds) {
                QAccessible::deleteAccessibleInterface(ids[static_cast<std::size_t>(k)]);
            }
        }
    }

    Picture1* picture() const { return m_picture; }
    Form1* form() const {
        return m_picture ? qobject_cast<Form1*>(m_picture->parentWidget()) : nullptr;
    }
    QAccessibleInterface* key(int k) const {
        const auto index = static_cast<std::size_t>(k);
        return QAccessible::accessibleInterface(m_keyIds[m_identity[index]][index]);
    }
    int focusKey() const { return m_focusKey; }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return QStringLiteral("キーボード");
        if (t == QAccessible::Description) {
            return QStringLiteral("英数字のキーで演奏します。F11キーでヘルプを開きます。");
        }
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return form() ? KeyCount : 0; }
    QAccessibleInterface* child(int index) const override {
        return index >= 0 && index < childCount() ? key(index + 1) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (int k = 1; k <= childCount(); ++k) {
            for (const auto& ids : m_keyIds) {
                if (QAccessible::accessibleInterface(ids[static_cast<std::size_t>(k)]) == child)
                    return k - 1;
            }
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (int k = 1; k <= childCount(); ++k) {
            if (key(k)->rect().contains(x, y)) return key(k);
        }
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        return m_focusKey != 0 && m_picture->hasFocus() ? key(m_focusKey) : nullptr;
    }

    void markChanged(int k, bool on) {
        QAccessible::State changed;
        changed.pressed = true;
        // Qt's AT-SPI bridge passes on changes of "checked" but not of "pressed".
        changed.checked = true;
        QAccessibleStateChangeEvent event(key(k), changed);
        QAccessible::updateAccessibility(&event);
        // A key played from the keyboard or with the mouse becomes the screen reader's focus,
        // so that it says which key sounds; a performance plays while its dialog has the focus.
        noteChord(on);
        if (on && m_picture->hasFocus()) {
            // Orca names an object only when the focus comes to it: a key struck again, the
            // focus still on it, is shown to Orca as a new object so that it is named again.
            const auto index = static_cast<std::size_t>(k);
            if (m_focusKey == k && m_identity[index] == m_focusIdentity) swapIdentity(k);
            m_focusKey = k;
            m_focusIdentity = m_identity[index];
            QAccessibleEvent focus(key(k), QAccessible::Focus);
            QAccessible::updateAccessibility(&focus);
        }
    }

    void drawn(std::int16_t layoutDegree) {
        if (layoutDegree == m_spokenLayout) return;
        m_spokenLayout = layoutDegree;
        // The keys are renamed. Qt 6.4's bridge sends a name change with the object in place of
        // the name, which Orca fails to read for the object with the focus, and 72 name and
        // description changes make Orca drop events as a flood: every key takes its other
        // identity instead, whose name and description Orca reads afresh.
        for (int k = 1; k <= KeyCount; ++k) swapIdentity(k);
        ui::Announce(m_picture, LayoutSentence(layoutDegree));
    }

  private:
    // Orca does not speak a button's pressed state changing, and a word for every key let go
    // would drown a melody: once all keys of a chord (two or more at a time) are let go, that
    // is said once, while the keyboard has the focus (not for a performance's chords).
    void noteChord(bool on) {
        m_held = std::max(0, m_held + (on ? 1 : -1));
        m_chordSize = std::max(m_chordSize, m_held);
        if (m_held > 0) return;
        if (m_chordSize >= 2 && m_picture->hasFocus()) {
            ui::Announce(m_picture, QStringLiteral("すべて離しました"));
        }
        m_chordSize = 0;
    }

    void swapIdentity(int k) {
        auto& identity = m_identity[static_cast<std::size_t>(k)];
        identity = identity == 0 ? 1 : 0;
    }

    QPointer<Picture1> m_picture;
    const Picture1* m_registeredAs;  // stays when the picture is gone
    // Two identities for each key; m_identity says which one is the key now.
    std::array<KeyTable<QAccessible::Id>, 2> m_keyIds{};
    KeyTable<std::size_t> m_identity{};
    std::size_t m_focusIdentity = 0;  // the identity of m_focusKey that Orca was told of
    int m_held = 0;                   // keys marked pressed now
    int m_chordSize = 0;              // the most of them held at once since all were up
    std::int16_t m_spokenLayout = LayoutF6;
    int m_focusKey = 0;
};

bool KeyAccessible::isValid() const {
    return m_keyboard.picture() != nullptr && m_keyboard.form() != nullptr;
}

QWindow* KeyAccessible::window() const {
    return m_keyboard.window();
}

QAccessibleInterface* KeyAccessible::parent() const {
    return &m_keyboard;
}

QString KeyAccessible::text(QAccessible::Text t) const {
    const Form1* form = m_keyboard.form();
    if (form == nullptr) return {};
    if (t == QAccessible::Name) return AccessibleKeyName(m_key, form->LayoutDegree());
    if (t == QAccessible::Description) {
        return AccessibleNoteDescription(
            form->noteTables().KeyNote[static_cast<std::size_t>(m_key)]);
    }
    return {};
}

QRect KeyAccessible::rect() const {
    const Picture1* picture = m_keyboard.picture();
    if (picture == nullptr) return {};
    const QRectF cap = KeyCapRect(m_key);
    const QRect pixels(QPoint(picture->toPixelX(cap.left()), picture->toPixelY(cap.top())),
                       QPoint(picture->toPixelX(cap.right()), picture->toPixelY(cap.bottom())));
    // Orca takes objects of the same role, name and place for one: the second identity lies
    // a pixel inside the cap.
    const QRect placed = pixels.translated(picture->mapToGlobal(QPoint(0, 0)));
    return m_second ? placed.adjusted(1, 1, -1, -1) : placed;
}

QAccessible::State KeyAccessible::state() const {
    QAccessible::State state;
    const Form1* form = m_keyboard.form();
    if (form == nullptr) {
        state.invalid = true;
        return state;
    }
    state.invisible = !m_keyboard.picture()->isVisible();
    state.focusable = true;
    state.focused = m_keyboard.focusKey() == m_key && m_keyboard.picture()->hasFocus();
    state.checkable = true;
    state.pressed = form->KeyMarked(m_key);
    state.checked = state.pressed;
    return state;
}

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) return nullptr;
    if (className == QLatin1String("keyboard::Picture1")) {
        return new PictureAccessible(static_cast<Picture1*>(object));
    }
    return nullptr;
}

}  // namespace

void InstallKeyboardAccessibility() {
    static const bool installed = [] {
        ui::InstallWidgetAccessibility();
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}

QString AccessibleKeyName(int k, std::int16_t layoutDegree) {
    const QString character(QChar(KeyCharacter[static_cast<std::size_t>(k)]));
    const std::string_view label = LayoutRule(layoutDegree)[static_cast<std::size_t>(k)].label;
    if (label == NoBlackKeyLabel) return character;
    // The caps carry half-width katakana ("ﾌｧ#"); speech engines read full width best.
    return character + QLatin1Char(' ') +
           FromUtf8(label).normalized(QString::NormalizationForm_KC).trimmed();
}

QString AccessibleNoteDescription(std::int16_t note) {
    if (note == NoNote) return QStringLiteral("音なし");
    static const std::array<const char*, 12> names = {"ド",    "ド#", "レ",  "レ#", "ミ",  "ファ",
                                                      "ファ#", "ソ",  "ソ#", "ラ",  "ラ#", "シ"};
    const int midi = 60 + note;
    return QStringLiteral("%1%2 (%3)")
        .arg(QString::fromUtf8(names[static_cast<std::size_t>(midi % 12)]))
        .arg(midi / 12 - 1)
        .arg(midi);
}

void KeyMarkChanged(Picture1& picture, int k, bool on) {
    if (liveKeyboards().isEmpty()) return;
    if (PictureAccessible* keyboard = liveKeyboards().value(&picture)) keyboard->markChanged(k, on);
}

void KeyboardDrawn(Picture1& picture, std::int16_t layoutDegree) {
    if (liveKeyboards().isEmpty()) return;
    if (PictureAccessible* keyboard = liveKeyboards().value(&picture))
        keyboard->drawn(layoutDegree);
}

}  // namespace keyboard
