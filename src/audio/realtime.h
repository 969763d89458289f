// Real-time priority for the threads that render sound, the way desktop audio clients get it:
// a direct request where the user's limits allow it (root, RLIMIT_RTPRIO), else the desktop's
// real-time service, RealtimeKit on the system bus.
#pragma once

#include <sys/types.h>

#include <string>

namespace audio {

// What desktops' real-time services grant to clients at most.
inline constexpr int kRealtimePriority = 20;

struct RealtimeGrant {
    bool granted = false;
    // How it was granted ("directly, priority 20", "through RealtimeKit, priority 20"), or why
    // not (each refusal).
    std::string how;
};

// Gives the thread tid of this process real-time priority. May block for a D-Bus round trip:
// call it outside the audio callback, or once before the callback renders.
RealtimeGrant makeThreadRealtime(pid_t tid);

// The calling thread's id.
pid_t currentThreadId();

// Whether thread tid of this process runs at real-time priority.
bool threadIsRealtime(pid_t tid);

}  // namespace audio
