#include "output_backends.h"

#include "port_output.h"
#include "trace_output.h"

namespace midi {

std::chrono::steady_clock::time_point programStart() {
    static const auto start = std::chrono::steady_clock::now();
    return start;
}

std::optional<OutputSpec> parseOutputSpec(const std::string& value) {
    if (value == "synth" || value == "none") return OutputSpec{value, {}};
    for (const std::string kind : {"port", "trace"}) {
        const std::string prefix = kind + ":";
        if (value.size() > prefix.size() && value.compare(0, prefix.size(), prefix) == 0) {
            return OutputSpec{kind, value.substr(prefix.size())};
        }
    }
    return std::nullopt;
}

std::string validOutputForms() {
    return "  synth          the built-in synthesizer (default)\n"
           "  port:NAME      a system MIDI port whose name contains NAME\n"
           "  port:NUMBER    a system MIDI port by its number\n"
           "  trace:FILE     write every MIDI message to FILE\n"
           "  none           no MIDI output\n";
}

std::unique_ptr<OutputBackend> makeBackend(const OutputSpec& spec, const BackendMaker& makeSynth) {
    if (spec.kind == "synth" && makeSynth) return makeSynth();
    if (spec.kind == "port") return std::make_unique<PortOutput>(spec.argument);
    if (spec.kind == "trace") return std::make_unique<TraceOutput>(spec.argument);
    return std::make_unique<NoOutput>();
}

std::vector<std::string> describeOutputs(const std::string& synthLine) {
    std::vector<std::string> lines{synthLine};
    const auto ports = listMidiPorts();
    if (ports.empty()) lines.push_back("port:...       no system MIDI ports");
    for (std::size_t i = 0; i < ports.size(); ++i) {
        lines.push_back("port:" + std::to_string(i) + "         " + ports[i]);
    }
    lines.push_back("trace:FILE     always available");
    lines.push_back("none           no sound");
    return lines;
}

}  // namespace midi
