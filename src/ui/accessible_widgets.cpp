#include "accessible_widgets.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QRegularExpression>

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
class NamedComboAccessible final : public QAccessibleWidget {
  public:
    explicit NamedComboAccessible(NamedComboBox* combo)
        : QAccessibleWidget(combo, QAccessible::ComboBox) {}
    QComboBox* combo() const { return static_cast<QComboBox*>(widget()); }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return combo()->currentText();
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

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) return nullptr;
    if (className == QLatin1String("ui::StatusStrip")) {
        return new StatusStripAccessible(static_cast<StatusStrip*>(object));
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

StatusStrip::StatusStrip(const QString& text, QWidget* parent) : QLabel(parent) {
    // Set here, not by QLabel's constructor, so that a screen reader already listening is
    // given this class's interface and not a plain label's.
    setText(text);
}

void Announce(QWidget* source, const QString& text) {
    if (source == nullptr || text.isEmpty() || !QAccessible::isActive()) return;
    // A description change of the widget that has the news: screen readers read it out when
    // the widget has the focus.
    source->setAccessibleDescription(text);
}

}  // namespace ui
