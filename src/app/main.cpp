#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <cstdio>
#include <iostream>

#include "audio_log.h"
#include "command_line.h"
#include "console_modes.h"
#include "help_menu.h"
#include "main_window.h"
#include "misc_file.h"
#include "output_backends.h"
#include "version.h"

namespace {

std::vector<std::string> argumentsOf(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
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
    midi::setAudioVerbose(early.verbose);
    if (!early.mode.empty()) return app::RunConsoleMode(early);
    const midi::SynthSettings synth{early.soundfont, true, early.audioBufferMs};
    if (early.listOutputs) {
        for (const auto& line : midi::describeOutputs(synth)) std::cout << line << "\n";
        return 0;
    }

    // Printing the layout to a file needs no display.
    if (!early.printLayout.empty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("muruteka"));
    // Qt has taken its own options out of argv; what is left names the music file.
    const app::CommandLine command = app::ParseCommandLine(argumentsOf(argc, argv));

    if (!command.printLayout.empty()) {
        keyboard::Form1 form;
        const std::int16_t degrees[] = {keyboard::LayoutF4, keyboard::LayoutF5, keyboard::LayoutF6,
                                        keyboard::LayoutF7};
        form.SetLayoutDegree(degrees[command.layout[1] - '4']);
        if (form.PrintLayoutToPdf(QString::fromStdString(command.printLayout))) return 0;
        std::cerr << "muruteka: cannot write " << command.printLayout << "\n";
        return 1;
    }

    // One copy at a time: a second one ends silently. The system releases the lock of a copy
    // that died.
    QString runtimeDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtimeDir.isEmpty()) runtimeDir = QDir::tempPath();
    QLockFile instanceLock(runtimeDir + QStringLiteral("/muruteka.lock"));
    instanceLock.setStaleLockTime(0);
    if (!instanceLock.tryLock(0)) return 0;

    midi::installBackend(midi::makeBackend(*midi::parseOutputSpec(command.midiOut), synth));

    keyboard::Form1* mainWindow = nullptr;
    keyboard::Form1Hooks hooks;
    hooks.showAutoPerformance = [&mainWindow] { performance::ShowMiscFile(*mainWindow); };
    hooks.showHelp = [] { help::ShowHelpMenu(); };
    keyboard::Form1 form(hooks);
    mainWindow = &form;
    form.Form_Load(command.commandLineFile);
    form.show();
    const int result = QApplication::exec();
    midi::installBackend(nullptr);
    return result;
}
