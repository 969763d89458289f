// A main window started against a recording MIDI backend, with message boxes answered by the test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <memory>
#include <vector>

#include "key_layout.h"
#include "main_window.h"
#include "message_box.h"
#include "module1.h"
#include "recording_backend.h"

namespace testing_support {

class FormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        recording = installRecording(midiAvailable());
        ui::setMessageHandler([this](const ui::MessageRequest& request) {
            boxes.push_back(request);
            return answer;
        });
        ui::setBeepHandler([this] { ++beeps; });
        Module1::hMidiOut = 0;
        Module1::MidiChannel = 0;
        Module1::CommandLineFile.clear();
    }
    void TearDown() override {
        form.reset();
        ui::setMessageHandler({});
        ui::setBeepHandler({});
        midi::installBackend(nullptr);
        Module1::hMidiOut = 0;
        Module1::Program = -1;
    }
    virtual bool midiAvailable() const { return true; }

    void start(const std::string& commandLine = {}, keyboard::Form1Hooks hooks = {}) {
        form = std::make_unique<keyboard::Form1>(std::move(hooks));
        form->Form_Load(commandLine);
        form->show();
        QApplication::processEvents();
        form->activateWindow();
        form->picture()->setFocus();
        QApplication::processEvents();
        recording->messages.clear();
    }

    // A key event as the window system delivers it: Qt key, modifiers, X11 key code.
    void key(QEvent::Type type, int qtKey, quint32 scanCode = 0,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool autoRepeat = false) {
        QKeyEvent event(type, qtKey, modifiers, scanCode, 0, 0, QString(), autoRepeat);
        QApplication::sendEvent(form->picture(), &event);
    }
    void press(int qtKey, quint32 scan = 0, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        key(QEvent::KeyPress, qtKey, scan, mods);
    }
    void release(int qtKey, quint32 scan = 0, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        key(QEvent::KeyRelease, qtKey, scan, mods);
    }

    // Is key k's square inverted? Read from a point of the cap away from its texts.
    bool marked(int k) const {
        const auto& picture = *form->picture();
        const auto row = keyboard::RowOfKey(k);
        const double top = row == keyboard::Row::Digits ? 200
                           : row == keyboard::Row::Q    ? 800
                           : row == keyboard::Row::A    ? 1400
                                                        : 2000;
        const double x = keyboard::KeyLeft[static_cast<std::size_t>(k)] + 60;
        const QColor pixel =
            picture.image().pixelColor(picture.toPixelX(x), picture.toPixelY(top + 420));
        return pixel == QColor(63, 63, 63);
    }
    std::vector<int> markedKeys() const {
        std::vector<int> keys;
        for (int k = 1; k <= keyboard::KeyCount; ++k) {
            if (marked(k)) keys.push_back(k);
        }
        return keys;
    }

    std::shared_ptr<Recording> recording;
    std::unique_ptr<keyboard::Form1> form;
    std::vector<ui::MessageRequest> boxes;
    ui::Answer answer = ui::Answer::Ok;
    int beeps = 0;
};

}  // namespace testing_support
