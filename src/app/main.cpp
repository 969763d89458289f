#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <iostream>

#include "audio_log.h"
#include "command_line.h"
#include "console_modes.h"
#include "desktop_identity.h"
#include "gm_programs.h"
#include "help_menu.h"
#include "input_ports.h"
#include "main_window.h"
#include "midi_thru.h"
#include "misc_file.h"
#include "module1.h"
#include "output_backends.h"
#include "output_file.h"
#include "practice_session.h"
#include "qt_translation.h"
#include "recording_session.h"
#include "synth_output.h"
#include "take_recorder.h"
#include "version.h"

namespace {

std::vector<std::string> argumentsOf(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

// The page is drawn under a temporary name beside the PDF and renamed over it only when
// complete, like every file the program writes: a failure leaves any old file as it was.
int PrintLayoutFile(keyboard::Form1& form, const std::string& path) {
    struct stat old {};
    if (stat(path.c_str(), &old) == 0 && !S_ISREG(old.st_mode)) {
        std::cerr << "「" << path << "」は通常のﾌｧｲﾙではないため、書き込めません。\n";
        return 2;
    }
    app::ReplacingFile file;
    if (file.Open(path) && form.PrintLayoutToPdf(QString::fromStdString(file.temporaryPath())) &&
        file.Commit()) {
        return 0;
    }
    std::cerr << "「" << path << "」ﾌｧｲﾙに書き込めません。"
              << (file.error() != 0 ? app::WriteFailureReason(file.error()) : std::string())
              << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    midi::programStart();
    const app::CommandLine early = app::ParseCommandLine(argumentsOf(argc, argv));
    if (!early.error.empty()) {
        std::cerr << "muruteka: " << early.error << "\n";
        return 2;
    }
    if (early.help) {
        std::cout << app::UsageText();
        return 0;
    }
    if (early.version) {
        std::cout << ui::VersionMajor << '.' << ui::VersionMinor << '.' << ui::VersionRevision
                  << "\n";
        return 0;
    }
    if (early.listPrograms) {
        for (std::size_t i = 0; i < midi::GmPrograms.size(); ++i) {
            std::printf("%3zu  %-24s %s\n", i, std::string(midi::GmPrograms[i].english).c_str(),
                        std::string(midi::GmPrograms[i].japanese).c_str());
        }
        return 0;
    }
    audio::setAudioVerbose(early.verbose);
    Module1::Program = early.program;
    if (!early.mode.empty()) return app::RunConsoleMode(early);
    // A recording file that cannot be made is known before any window opens; a file already
    // there is left as it is until the first note is recorded.
    for (const std::string& path : {early.recordText, early.recordMidi}) {
        if (path.empty()) continue;
        const std::string problem = performance::RecordingFileProblem(path);
        if (!problem.empty()) {
            std::cerr << problem << "\n";
            return 1;
        }
    }
    const audio::SynthSettings synth{early.soundfont, true, early.audioBufferMs};
    if (early.listOutputs || early.listInputs) {
        if (early.listOutputs) {
            for (const auto& line : audio::describeOutputs(synth)) std::cout << line << "\n";
            std::cout << "\nMIDI inputs (--midi-in):\n";
        }
        for (const auto& line : midi::describeInputs()) std::cout << line << "\n";
        return 0;
    }

    // Printing the layout to a file needs no display.
    if (!early.printLayout.empty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("muruteka"));
    app::PresentToDesktop();
    ui::InstallQtJapanese();
    // Qt has taken its own options out of argv; what is left names the music file.
    const app::CommandLine command = app::ParseCommandLine(argumentsOf(argc, argv));

    if (!command.printLayout.empty()) {
        keyboard::Form1 form;
        const std::int16_t degrees[] = {keyboard::LayoutF4, keyboard::LayoutF5, keyboard::LayoutF6,
                                        keyboard::LayoutF7};
        form.SetLayoutDegree(degrees[command.layout[1] - '4']);
        return PrintLayoutFile(form, command.printLayout);
    }

    // One copy at a time: a second one ends silently. The system releases the lock of a copy
    // that died.
    QString runtimeDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtimeDir.isEmpty()) runtimeDir = QDir::tempPath();
    QLockFile instanceLock(runtimeDir + QStringLiteral("/muruteka.lock"));
    instanceLock.setStaleLockTime(0);
    if (!instanceLock.tryLock(0)) return 0;

    auto output = audio::makeBackend(*midi::parseOutputSpec(command.midiOut), synth);
    std::unique_ptr<app::RecordingSession> recording;
    if (!command.recordText.empty() || !command.recordMidi.empty()) {
        recording = std::make_unique<app::RecordingSession>(command);
        auto recorded = recording->wrap(std::move(output));
        if (!recorded->outputAvailable() && command.midiOut != "none") {
            std::cerr << "ご使用の環境では、MIDI音源を使用できません。録音だけを行います。\n";
        }
        output = std::move(recorded);
    }
    midi::installBackend(std::move(output));

    // Messages from a MIDI keyboard are played on the input's own thread, without waiting for
    // the window; the window marks their keys afterwards.
    midi::MidiThru thru(midi::playerNotes(), &Module1::CurrentChannel);
    keyboard::Form1* mainWindow = nullptr;
    keyboard::Form1Hooks hooks;
    hooks.showAutoPerformance = [&mainWindow] { performance::ShowMiscFile(*mainWindow); };
    hooks.showHelp = [] { help::ShowHelpMenu(); };
    practice::PracticeSession* practiceSession = nullptr;
    hooks.showPractice = [&practiceSession] { practiceSession->ShowDialog(); };
    hooks.stopPractice = [&practiceSession] { return practiceSession->Stop(); };
    keyboard::Form1 form(hooks);
    mainWindow = &form;
    practice::PracticeSession practice(form,
                                       midi::parseOutputSpec(command.midiOut)->kind == "synth");
    practiceSession = &practice;
    form.setPlayerNoteObserver(
        [&practice](std::int16_t note, bool on) { practice.PlayerNote(note, on); });
    if (recording) recording->start(form);
    form.ConnectMidiInput(thru);
    midi::MidiInput input(
        *midi::parseInputSpec(command.midiIn),
        [&thru](const unsigned char* bytes, std::size_t size) { thru.receive(bytes, size); },
        [&thru] { thru.endAll(); });
    if (!input.open() && !input.problem().empty()) std::cerr << input.problem() << "\n";
    form.Form_Load(command.commandLineFile);
    int result = recording ? recording->signalExitCode() : 0;
    if (result == 0) {
        // A practice asked for on the command line begins once the window is up.
        if (!command.practiceFile.empty() || command.practiceDialog) {
            QTimer::singleShot(0, &form, [&practice, &command] {
                if (command.practiceDialog) {
                    practice.ShowDialog();
                    return;
                }
                practice::PracticeRequest request;
                request.file = command.practiceFile;
                request.inTime = command.inTime;
                request.tempo = command.tempo;
                request.fromLine = command.fromLine;
                request.toLine = command.toLine;
                request.cleanRepeats = command.cleanRepeats;
                request.rampFrom = command.rampFrom;
                request.echo = command.echo;
                request.metronome = command.metronome;
                request.choices = app::ChoicesOf(command);
                request.melody = command.melody;
                practice.Start(request);
            });
        }
        form.show();
        result = QApplication::exec();
    }
    if (recording) recording->finish();
    midi::installBackend(nullptr);
    return result;
}
