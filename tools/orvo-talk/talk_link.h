// The talk host: moves the library's outgoing packets to a UDP peer and the datagrams it receives
// into the library, with playback on, until a deadline or a stop signal.
#ifndef ORVO_TALK_TOOL_TALK_LINK_H
#define ORVO_TALK_TOOL_TALK_LINK_H

#include <csignal>
#include <cstdint>
#include <string>

namespace orvo::talktool {

struct LinkOptions {
    std::string peerHost;   // empty: send nothing
    uint16_t peerPort = 0;
    uint16_t listenPort = 0; // 0: any free port
    std::string capture;    // device names as for Orvo_SelectAudioDevice; empty: default
    std::string playback;
    double seconds = 0;     // 0: until stopped
    std::string tracePath;  // optional: one line per packet sent and per frame played
    bool quiet = false;     // no status line every second
};

// Set by the SIGINT/SIGTERM handler.
extern volatile std::sig_atomic_t g_stopRequested;

// Runs the link. 0 on a clean end; 1 with a message on stderr when it cannot start.
int RunLink(const LinkOptions &options);

} // namespace orvo::talktool

#endif
