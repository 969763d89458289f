#include "accessible_widgets.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>
#include <cstdint>

namespace ui {
namespace {

class StatusStripAccessible final : public QAccessibleWidget {
  public:
    explicit StatusStripAccessible(StatusStrip* label)
        : QAccessibleWidget(label, QAccessible::StatusBar) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return static_cast<QLabel*>(widget())->text().trimmed();
        }
        return QAccessibleWidget::text(t);
    }
};

// A drop-down list that is said by its name; its items are its one child, the list view.
class NamedComboAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
  public:
    explicit NamedComboAccessible(NamedComboBox* combo)
        : QAccessibleWidget(combo, QAccessible::ComboBox) {}
    NamedComboBox* combo() const { return static_cast<NamedComboBox*>(widget()); }
    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // The current item as a read-only text, without the blanks that pad " 0" to " 15".
    QString item() const { return combo()->currentText().trimmed(); }
    QString text(int start, int end) const override { return item().mid(start, end - start); }
    int characterCount() const override { return static_cast<int>(item().size()); }
    int cursorPosition() const override {
        return std::min(combo()->caretOffset(), characterCount());
    }
    void setCursorPosition(int) override {}
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    // One run without attributes: Orca speaks a line run by run.
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return item();
        if (t == QAccessible::Name && combo()->accessibleName().isEmpty()) {
            return combo()->currentText();
        }
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(combo()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() == combo()->view() ? 0 : -1;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.hasPopup = true;
        state.expanded = combo()->view()->isVisible();
        state.collapsed = !state.expanded;
        return state;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& actionName) override {
        if (actionName == showMenuAction() || actionName == pressAction()) combo()->showPopup();
    }
};

// A notification that a screen reader reads out when it appears: Orca 43 speaks a notification
// as it becomes showing, wherever the focus is.
class AnnouncementNotice final : public QWidget {
  public:
    explicit AnnouncementNotice(QWidget* window) : QWidget(window) {
        setGeometry(0, 0, 1, 1);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }
    void say(const QString& text) {
        static std::uint64_t said = 0;
        hide();
        m_text = text;
        m_saidAt = ++said;
        show();
    }
    QString text() const { return m_text; }
    std::uint64_t saidAt() const { return m_saidAt; }

  private:
    QString m_text;
    std::uint64_t m_saidAt = 0;
};

class NoticeAccessible final : public QAccessibleWidget {
  public:
    explicit NoticeAccessible(AnnouncementNotice* notice)
        : QAccessibleWidget(notice, QAccessible::Notification) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return static_cast<AnnouncementNotice*>(widget())->text();
        return {};
    }
};

// Named by its own caption, which QPushButton does not know.
class CaptionButtonAccessible final : public QAccessibleWidget {
  public:
    explicit CaptionButtonAccessible(CaptionButton* button)
        : QAccessibleWidget(button, QAccessible::Button) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return static_cast<CaptionButton*>(widget())->text();
        }
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& actionName) override {
        if (actionName == pressAction()) static_cast<QPushButton*>(widget())->click();
    }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) return nullptr;
    if (auto* notice = dynamic_cast<AnnouncementNotice*>(object))
        return new NoticeAccessible(notice);
    if (className == QLatin1String("ui::StatusStrip")) {
        return new StatusStripAccessible(static_cast<StatusStrip*>(object));
    }
    if (className == QLatin1String("ui::CaptionButton")) {
        return new CaptionButtonAccessible(static_cast<CaptionButton*>(object));
    }
    if (className == QLatin1String("ui::NamedComboBox")) {
        return new NamedComboAccessible(static_cast<NamedComboBox*>(object));
    }
    return nullptr;
}

}  // namespace

void InstallWidgetAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}

QString WithoutAccessKey(const QString& caption) {
    QString text = caption;
    text.remove(QRegularExpression(QStringLiteral("\\(&[^&]\\)")));
    text.replace(QRegularExpression(QStringLiteral("&(.)")), QStringLiteral("\\1"));
    return text;
}

NamedComboBox::NamedComboBox(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        m_caretOffset = m_caretOffset == 0 ? 1 : 0;
        if (!QAccessible::isActive()) return;
        QAccessibleTextCursorEvent moved(this, caretOffset());
        QAccessible::updateAccessibility(&moved);
    });
}

CaptionButton::CaptionButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent), m_caption(caption) {}

void CaptionButton::setCaption(const QString& caption) {
    m_caption = caption;
    update();
}

void CaptionButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text = m_caption;
    painter.drawControl(QStyle::CE_PushButton, option);
}

StatusStrip::StatusStrip(const QString& text, QWidget* parent) : QLabel(parent) {
    // Set here, not by QLabel's constructor, so that a screen reader already listening is
    // given this class's interface and not a plain label's.
    setText(text);
}

void Announce(QWidget* source, const QString& text) {
    if (source == nullptr || text.isEmpty() || !QAccessible::isActive()) return;
    QWidget* window = source->window();
    // Orca reads a notification's words when its event arrives, after the program has moved
    // on: two sentences of one moment (a layout drawn, the next key) take two notices, or the
    // second would be read twice and the first never.
    AnnouncementNotice* notice = nullptr;
    int notices = 0;
    for (QObject* child : window->children()) {
        if (auto* found = dynamic_cast<AnnouncementNotice*>(child)) {
            ++notices;
            if (notice == nullptr || found->saidAt() < notice->saidAt()) notice = found;
        }
    }
    if (notices < 2) notice = new AnnouncementNotice(window);
    notice->say(text);
}

}  // namespace ui
