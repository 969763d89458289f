// Every message box and beep of the program goes through here, so that tests can answer and read
// them instead of a person.
#pragma once

#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace ui {

inline const QString AppTitle = QStringLiteral("ムルテカ");

enum class Icon { None, Exclamation };
enum class Buttons { Ok, OkCancel };
enum class Answer { Ok, Cancel };

struct MessageRequest {
    QString text;
    QString caption;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
    // A widget of the box's own, shown between the text and the buttons; made with the box as
    // its parent (which it may close).
    std::function<QWidget*(QDialog* box)> extra = {};
};

// Shows a modal message box; OK is the default button.
Answer showMessage(QWidget* parent, const MessageRequest& request);
void beep();

// Replaces the real boxes and the beep, for tests. An empty handler restores the real ones.
using MessageHandler = std::function<Answer(const MessageRequest&)>;
void setMessageHandler(MessageHandler handler);
void setBeepHandler(std::function<void()> handler);

}  // namespace ui
