#include "input_ports.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <poll.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "midi_system.h"

namespace midi {
namespace {

// Watches the sources connected to the program's port, and in "all" mode joins hardware sources
// to it: the ones there at start and those that appear later. Each backend's own graph API.
class PortWatcher {
  public:
    virtual ~PortWatcher() = default;
    // Finds the program's port among those that were not there before it opened.
    virtual bool findOwnPort(const std::set<std::string>& before) = 0;
    virtual std::set<std::string> ownPortCandidates() = 0;
    virtual void joinHardwareSources(std::set<std::string>& offered) = 0;
    virtual std::set<std::string> connectedSources() = 0;
    // Sleeps until the graph changes or the time passes.
    virtual void waitForChange(std::chrono::milliseconds most) = 0;
    virtual void wake() = 0;
    virtual bool systemGone() const = 0;
};

class JackWatcher final : public PortWatcher {
  public:
    JackWatcher() {
        quietJackMessages();
        jack_status_t status{};
        m_client = jack_client_open("muruteka-watch", JackNoStartServer, &status);
        if (m_client == nullptr) return;
        jack_set_port_registration_callback(m_client, &JackWatcher::onRegistration, this);
        jack_set_port_connect_callback(m_client, &JackWatcher::onConnect, this);
        jack_on_shutdown(m_client, &JackWatcher::onShutdown, this);
        if (jack_activate(m_client) != 0) {
            jack_client_close(m_client);
            m_client = nullptr;
        }
    }
    ~JackWatcher() override {
        if (m_client != nullptr && !m_gone) jack_client_close(m_client);
    }
    bool ready() const { return m_client != nullptr; }

    std::set<std::string> ownPortCandidates() override {
        return ports((std::string(":") + InputPortName + "$").c_str(), JackPortIsInput);
    }
    bool findOwnPort(const std::set<std::string>& before) override {
        for (const std::string& name : ownPortCandidates()) {
            if (before.count(name) == 0) m_own = name;
        }
        return !m_own.empty();
    }
    void joinHardwareSources(std::set<std::string>& offered) override {
        if (m_gone) return;
        for (const std::string& source : ports(nullptr, JackPortIsOutput | JackPortIsPhysical)) {
            // Each source is joined once: a connection the user undoes stays undone.
            if (!offered.insert(source).second) continue;
            jack_connect(m_client, source.c_str(), m_own.c_str());
        }
    }
    std::set<std::string> connectedSources() override {
        std::set<std::string> sources;
        if (m_gone) return sources;
        jack_port_t* own = jack_port_by_name(m_client, m_own.c_str());
        if (own == nullptr) return sources;
        if (const char** names = jack_port_get_all_connections(m_client, own)) {
            for (const char** n = names; *n != nullptr; ++n) sources.insert(*n);
            jack_free(names);
        }
        return sources;
    }
    void waitForChange(std::chrono::milliseconds most) override {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, most, [this] { return m_changes; });
        m_changes = false;
    }
    void wake() override {
        {
            const std::lock_guard lock(m_mutex);
            m_changes = true;
        }
        m_changed.notify_all();
    }
    bool systemGone() const override { return m_gone; }

  private:
    std::set<std::string> ports(const char* pattern, unsigned long flags) {
        std::set<std::string> names;
        if (m_gone) return names;
        if (const char** found = jack_get_ports(m_client, pattern, JACK_DEFAULT_MIDI_TYPE, flags)) {
            for (const char** n = found; *n != nullptr; ++n) names.insert(*n);
            jack_free(found);
        }
        return names;
    }
    // JACK's notification thread must not call back into JACK: it only wakes the watcher.
    static void onRegistration(jack_port_id_t, int, void* self) {
        static_cast<JackWatcher*>(self)->wake();
    }
    static void onConnect(jack_port_id_t, jack_port_id_t, int, void* self) {
        static_cast<JackWatcher*>(self)->wake();
    }
    static void onShutdown(void* self) {
        auto* watcher = static_cast<JackWatcher*>(self);
        watcher->m_gone = true;
        watcher->wake();
    }

    jack_client_t* m_client = nullptr;
    std::string m_own;
    std::atomic<bool> m_gone{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_changes = false;
};

// The sequencer tells its clients of every port that comes or goes (its announce port).
class AlsaWatcher final : public PortWatcher {
  public:
    AlsaWatcher() {
        if (::pipe2(m_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) m_wakePipe[0] = m_wakePipe[1] = -1;
        if (snd_seq_open(&m_seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
            m_seq = nullptr;
            return;
        }
        snd_seq_set_client_name(m_seq, "muruteka-watch");
        m_port = snd_seq_create_simple_port(m_seq, "announcements",
                                            SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                            SND_SEQ_PORT_TYPE_APPLICATION);
        if (m_port >= 0) {
            snd_seq_connect_from(m_seq, m_port, SND_SEQ_CLIENT_SYSTEM,
                                 SND_SEQ_PORT_SYSTEM_ANNOUNCE);
        }
    }
    ~AlsaWatcher() override {
        if (m_seq != nullptr) snd_seq_close(m_seq);
        for (const int fd : m_wakePipe) {
            if (fd >= 0) ::close(fd);
        }
    }
    bool ready() const { return m_seq != nullptr && m_port >= 0 && m_wakePipe[0] >= 0; }

    std::set<std::string> ownPortCandidates() override {
        std::set<std::string> names;
        forEachPort([&](const snd_seq_addr_t& addr, const char* client, const char* port, unsigned,
                        unsigned) {
            if (std::string(port) == InputPortName && std::string(client) == "muruteka") {
                names.insert(key(addr));
            }
        });
        return names;
    }
    bool findOwnPort(const std::set<std::string>& before) override {
        for (const std::string& name : ownPortCandidates()) {
            if (before.count(name) == 0) m_own = parse(name);
        }
        return m_own.client != 0;
    }
    void joinHardwareSources(std::set<std::string>& offered) override {
        std::vector<snd_seq_addr_t> sources;
        forEachPort([&](const snd_seq_addr_t& addr, const char*, const char*, unsigned caps,
                        unsigned type) {
            const unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
            if ((caps & readable) == readable && (type & SND_SEQ_PORT_TYPE_HARDWARE) != 0 &&
                offered.insert(key(addr)).second) {
                sources.push_back(addr);
            }
        });
        for (const snd_seq_addr_t& source : sources) {
            snd_seq_port_subscribe_t* subscription = nullptr;
            snd_seq_port_subscribe_alloca(&subscription);
            snd_seq_port_subscribe_set_sender(subscription, &source);
            snd_seq_port_subscribe_set_dest(subscription, &m_own);
            snd_seq_subscribe_port(m_seq, subscription);
        }
    }
    std::set<std::string> connectedSources() override {
        std::set<std::string> sources;
        snd_seq_query_subscribe_t* query = nullptr;
        snd_seq_query_subscribe_alloca(&query);
        snd_seq_query_subscribe_set_root(query, &m_own);
        snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_WRITE);
        snd_seq_query_subscribe_set_index(query, 0);
        while (snd_seq_query_port_subscribers(m_seq, query) >= 0) {
            sources.insert(key(*snd_seq_query_subscribe_get_addr(query)));
            snd_seq_query_subscribe_set_index(query, snd_seq_query_subscribe_get_index(query) + 1);
        }
        return sources;
    }
    void waitForChange(std::chrono::milliseconds most) override {
        std::vector<pollfd> fds(
            static_cast<std::size_t>(snd_seq_poll_descriptors_count(m_seq, POLLIN)) + 1);
        const int count = snd_seq_poll_descriptors(m_seq, fds.data(),
                                                   static_cast<unsigned>(fds.size() - 1), POLLIN);
        fds[static_cast<std::size_t>(count)] = {m_wakePipe[0], POLLIN, 0};
        ::poll(fds.data(), static_cast<nfds_t>(count + 1), static_cast<int>(most.count()));
        snd_seq_event_t* event = nullptr;
        while (snd_seq_event_input(m_seq, &event) >= 0) {
        }
        char drain[16];
        while (::read(m_wakePipe[0], drain, sizeof drain) > 0) {
        }
    }
    void wake() override { [[maybe_unused]] const auto n = ::write(m_wakePipe[1], "w", 1); }
    bool systemGone() const override { return false; }

  private:
    static std::string key(const snd_seq_addr_t& addr) {
        return std::to_string(addr.client) + ":" + std::to_string(addr.port);
    }
    static snd_seq_addr_t parse(const std::string& name) {
        snd_seq_addr_t addr{};
        const auto colon = name.find(':');
        addr.client = static_cast<unsigned char>(std::stoi(name.substr(0, colon)));
        addr.port = static_cast<unsigned char>(std::stoi(name.substr(colon + 1)));
        return addr;
    }
    template <typename Visit>
    void forEachPort(Visit visit) {
        snd_seq_client_info_t* client = nullptr;
        snd_seq_port_info_t* port = nullptr;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(m_seq, client) >= 0) {
            const int id = snd_seq_client_info_get_client(client);
            if (id == snd_seq_client_id(m_seq)) continue;
            snd_seq_port_info_set_client(port, id);
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(m_seq, port) >= 0) {
                visit(*snd_seq_port_info_get_addr(port), snd_seq_client_info_get_name(client),
                      snd_seq_port_info_get_name(port), snd_seq_port_info_get_capability(port),
                      snd_seq_port_info_get_type(port));
            }
        }
    }

    snd_seq_t* m_seq = nullptr;
    int m_port = -1;
    snd_seq_addr_t m_own{};
    int m_wakePipe[2] = {-1, -1};
};

}  // namespace

std::optional<InputSpec> parseInputSpec(const std::string& value) {
    if (value == "all" || value == "none") return InputSpec{value, {}};
    const std::string prefix = "port:";
    if (value.size() > prefix.size() && value.compare(0, prefix.size(), prefix) == 0) {
        return InputSpec{"port", value.substr(prefix.size())};
    }
    return std::nullopt;
}

std::string validInputForms() {
    return "  all            a port named ムルテカ, joined to every hardware MIDI source,\n"
           "                 also those plugged in later (default)\n"
           "  port:NAME      the MIDI source whose name contains NAME\n"
           "  port:NUMBER    the MIDI source by its number (--list-midi-inputs)\n"
           "  none           no MIDI input\n";
}

struct MidiInput::Impl {
    InputSpec spec;
    ReceiveFunction receive;
    std::function<void()> sourceLost;
    std::string problem;
    std::unique_ptr<PortWatcher> watcher;
    std::unique_ptr<RtMidiIn> in;
    std::thread thread;
    std::atomic<bool> quit{false};

    static void onMessage(double, std::vector<unsigned char>* message, void* self) {
        auto* impl = static_cast<Impl*>(self);
        if (message != nullptr && !message->empty())
            impl->receive(message->data(), message->size());
    }

    void watch() {
        std::set<std::string> offered;
        std::set<std::string> connected;
        while (!quit) {
            if (spec.kind == "all") watcher->joinHardwareSources(offered);
            std::set<std::string> now = watcher->connectedSources();
            const bool lost =
                watcher->systemGone() ||
                !std::includes(now.begin(), now.end(), connected.begin(), connected.end());
            if (lost) sourceLost();
            if (watcher->systemGone()) return;
            connected = std::move(now);
            watcher->waitForChange(std::chrono::milliseconds(1000));
        }
    }
};

MidiInput::MidiInput(InputSpec spec, ReceiveFunction receive, std::function<void()> sourceLost)
    : m(std::make_unique<Impl>()) {
    m->spec = std::move(spec);
    m->receive = std::move(receive);
    m->sourceLost = std::move(sourceLost);
}

MidiInput::~MidiInput() {
    m->quit = true;
    if (m->watcher) m->watcher->wake();
    if (m->thread.joinable()) m->thread.join();
    // The port closes before the watcher's client, which may still look at it.
    m->in.reset();
    m->watcher.reset();
}

const std::string& MidiInput::problem() const {
    return m->problem;
}

bool MidiInput::open() {
    if (m->spec.kind == "none") return false;
    const MidiSystem system = detectMidiSystem();
    if (system == MidiSystem::None) {
        midiLog("MIDI input: no ALSA sequencer (/dev/snd/seq) and no JACK server");
        return false;
    }
    if (system == MidiSystem::Jack) {
        auto jack = std::make_unique<JackWatcher>();
        if (jack->ready()) m->watcher = std::move(jack);
    } else {
        auto alsa = std::make_unique<AlsaWatcher>();
        if (alsa->ready()) m->watcher = std::move(alsa);
    }
    m->in = makeMidiClient<RtMidiIn>(system);
    if (!m->in || !m->watcher) {
        midiLog("MIDI input: the " + nameOf(system) + " client could not be made");
        m->in.reset();
        m->watcher.reset();
        return false;
    }
    const std::set<std::string> before = m->watcher->ownPortCandidates();
    try {
        // System messages (SysEx, clock, active sensing) are not played: RtMidi drops them.
        m->in->ignoreTypes(true, true, true);
        m->in->setCallback(&Impl::onMessage, m.get());
        if (m->spec.kind == "port") {
            const auto port = findPort(*m->in, m->spec.argument);
            if (!port) {
                m->problem = "MIDI入力「" + m->spec.argument + "」が見つかりません。";
                m->in.reset();
                m->watcher.reset();
                return false;
            }
            m->in->openPort(*port, InputPortName);
        } else {
            m->in->openVirtualPort(InputPortName);
        }
    } catch (const RtMidiError& error) {
        midiLog("MIDI input: " + error.getMessage());
        m->in.reset();
        m->watcher.reset();
        return false;
    }
    midiLog("MIDI input: " + nameOf(system) + ", port " + InputPortName);
    if (!m->watcher->findOwnPort(before)) {
        // Without its address nothing can be joined to the port or watched; it still plays.
        midiLog("MIDI input: the port is not found in the graph; no sources are joined to it");
        return true;
    }
    m->thread = std::thread([impl = m.get()] { impl->watch(); });
    return true;
}

std::vector<std::string> listMidiInputs() {
    std::vector<std::string> names;
    auto in = makeMidiClient<RtMidiIn>(detectMidiSystem());
    if (!in) return names;
    try {
        for (unsigned i = 0; i < in->getPortCount(); ++i) names.push_back(in->getPortName(i));
    } catch (const RtMidiError&) {
    }
    return names;
}

std::vector<std::string> describeInputs() {
    const MidiSystem system = detectMidiSystem();
    if (system == MidiSystem::None) {
        return {"all            unavailable: no ALSA sequencer and no JACK server",
                "none           no MIDI input"};
    }
    std::vector<std::string> lines{"all            port " + std::string(InputPortName) + " (" +
                                   nameOf(system) + "), joined to the hardware sources"};
    const auto sources = listMidiInputs();
    if (sources.empty()) lines.push_back("port:...       no MIDI sources");
    for (std::size_t i = 0; i < sources.size(); ++i) {
        lines.push_back("port:" + std::to_string(i) + "         " + sources[i]);
    }
    lines.push_back("none           no MIDI input");
    return lines;
}

}  // namespace midi
