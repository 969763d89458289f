#include "message_box.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QMessageBox>

#include "fonts.h"

namespace ui {
namespace {

MessageHandler& messageHandler() {
    static MessageHandler handler;
    return handler;
}

std::function<void()>& beepHandler() {
    static std::function<void()> handler;
    return handler;
}

// The box's grid holds the text above the buttons: the widget goes between them.
void AddBelowText(QMessageBox& box, QWidget* widget) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    auto* buttons = box.findChild<QDialogButtonBox*>();
    if (widget == nullptr || grid == nullptr || buttons == nullptr) return;
    const int at = grid->indexOf(buttons);
    if (at < 0) return;
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(at, &row, &column, &rows, &columns);
    grid->removeWidget(buttons);
    grid->addWidget(widget, row, column, 1, columns);
    grid->addWidget(buttons, row + 1, column, rows, columns);
}

}  // namespace

Answer showMessage(QWidget* parent, const MessageRequest& request) {
    if (messageHandler()) return messageHandler()(request);
    QMessageBox box(parent);
    box.setFont(MessageFont(box.font()));
    box.setWindowTitle(request.caption);
    // The program's messages are never markup; a file name with "<b>" in it stays as it is.
    box.setTextFormat(Qt::PlainText);
    box.setText(request.text);
    box.setIcon(request.icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    if (request.buttons == Buttons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.setDefaultButton(QMessageBox::Ok);
    if (request.extra) AddBelowText(box, request.extra(&box));
    return box.exec() == QMessageBox::Ok ? Answer::Ok : Answer::Cancel;
}

void beep() {
    if (beepHandler()) {
        beepHandler()();
        return;
    }
    QApplication::beep();
}

void setMessageHandler(MessageHandler handler) {
    messageHandler() = std::move(handler);
}

void setBeepHandler(std::function<void()> handler) {
    beepHandler() = std::move(handler);
}

}  // namespace ui
