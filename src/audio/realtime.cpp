#include "realtime.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

namespace audio {
namespace {

constexpr const char* kService = "org.freedesktop.RealtimeKit1";
constexpr const char* kPath = "/org/freedesktop/RealtimeKit1";

// The threads made real-time, so that a runaway one can be set back (see onRealtimeOverrun).
std::array<std::atomic<pid_t>, 16> realtimeThreads{};

void remember(pid_t tid) {
    for (auto& slot : realtimeThreads) {
        pid_t empty = 0;
        if (slot.load() == tid || slot.compare_exchange_strong(empty, tid)) return;
    }
}

// A real-time thread that ran RLIMIT_RTTIME's soft limit without blocking (a device that never
// makes it wait, say) would be killed with the whole program at the hard limit; it is set back
// to ordinary scheduling instead. Only async-signal-safe calls here.
void onRealtimeOverrun(int) {
    sched_param ordinary{};
    for (auto& slot : realtimeThreads) {
        const pid_t tid = slot.load();
        // Keeping reset-on-fork: an unprivileged thread may not clear it.
        if (tid != 0) sched_setscheduler(tid, SCHED_OTHER | SCHED_RESET_ON_FORK, &ordinary);
    }
}

std::string directly(pid_t tid, int priority) {
    sched_param param{};
    param.sched_priority = priority;
    // Reset on fork: a helper process started from this thread does not inherit the priority.
    if (sched_setscheduler(tid, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0) return {};
    return std::string("direct request refused: ") + std::strerror(errno);
}

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};

// RealtimeKit grants only to processes whose RLIMIT_RTTIME is at most its RTTimeUSecMax, so
// that a runaway real-time thread is stopped by the kernel; and only up to MaxRealtimePriority.
std::string throughRealtimeKit(pid_t tid, int& priority) {
    sd_bus* raw = nullptr;
    int error = sd_bus_open_system(&raw);
    if (error < 0) return std::string("no system bus: ") + std::strerror(-error);
    std::unique_ptr<sd_bus, BusDeleter> bus(raw);
    // A service that does not answer must not hold up the start for sd-bus's default 25 s.
    sd_bus_set_method_call_timeout(bus.get(), 2'000'000);
    sd_bus_error busError = SD_BUS_ERROR_NULL;
    auto failed = [&](const char* what) {
        std::string text = std::string(what) + ": " +
                           (busError.message != nullptr ? busError.message : std::strerror(-error));
        sd_bus_error_free(&busError);
        return text;
    };
    std::int32_t maxPriority = 0;
    error = sd_bus_get_property_trivial(bus.get(), kService, kPath, kService, "MaxRealtimePriority",
                                        &busError, 'i', &maxPriority);
    if (error < 0) return failed("no RealtimeKit");
    std::int64_t maxRtTime = 0;
    error = sd_bus_get_property_trivial(bus.get(), kService, kPath, kService, "RTTimeUSecMax",
                                        &busError, 'x', &maxRtTime);
    if (error < 0) return failed("RealtimeKit did not say its RTTimeUSecMax");
    rlimit limit{};
    getrlimit(RLIMIT_RTTIME, &limit);
    const auto wanted = static_cast<rlim_t>(std::max<std::int64_t>(maxRtTime, 1));
    // The soft limit below the hard one gives SIGXCPU before SIGKILL. (PipeWire's client
    // library may have set both to the same already.)
    if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > wanted) limit.rlim_max = wanted;
    limit.rlim_cur = std::min(limit.rlim_cur, limit.rlim_max / 2);
    if (setrlimit(RLIMIT_RTTIME, &limit) != 0)
        return std::string("RLIMIT_RTTIME cannot be set: ") + std::strerror(errno);
    struct sigaction action {};
    action.sa_handler = onRealtimeOverrun;
    sigemptyset(&action.sa_mask);
    sigaction(SIGXCPU, &action, nullptr);
    priority = std::min(priority, static_cast<int>(maxPriority));
    if (priority < 1) return "RealtimeKit grants no real-time priority";
    sd_bus_message* reply = nullptr;
    error =
        sd_bus_call_method(bus.get(), kService, kPath, kService, "MakeThreadRealtimeWithPID",
                           &busError, &reply, "ttu", static_cast<std::uint64_t>(getpid()),
                           static_cast<std::uint64_t>(tid), static_cast<std::uint32_t>(priority));
    sd_bus_message_unref(reply);
    if (error < 0) return failed("RealtimeKit refused");
    return {};
}

}  // namespace

pid_t currentThreadId() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

bool threadIsRealtime(pid_t tid) {
    const int policy = sched_getscheduler(tid) & ~SCHED_RESET_ON_FORK;
    return policy == SCHED_FIFO || policy == SCHED_RR;
}

RealtimeGrant makeThreadRealtime(pid_t tid) {
    // The user's own limit may allow less than what is asked for; ask for that then.
    int priority = kRealtimePriority;
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0 &&
        limit.rlim_cur < static_cast<rlim_t>(priority))
        priority = static_cast<int>(limit.rlim_cur);
    const std::string direct = directly(tid, priority);
    if (direct.empty()) return {true, "directly, priority " + std::to_string(priority)};
    priority = kRealtimePriority;
    remember(tid);
    const std::string desktop = throughRealtimeKit(tid, priority);
    if (desktop.empty()) return {true, "through RealtimeKit, priority " + std::to_string(priority)};
    return {false, direct + "; " + desktop};
}

}  // namespace audio
