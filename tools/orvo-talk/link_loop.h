// The link loop every transport shares: starts the talk service and playback on the chosen
// devices, moves the outgoing packets to the transport and what the transport receives into the
// library, prints the status line and the trace, until a deadline or a stop signal.
#ifndef ORVO_TALK_TOOL_LINK_LOOP_H
#define ORVO_TALK_TOOL_LINK_LOOP_H

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>

#include "socket.h"

namespace orvo::talktool {

// Set by the SIGINT/SIGTERM handler.
extern volatile std::sig_atomic_t g_stopRequested;

struct LinkOptions {
    std::string capture;    // device names as for Orvo_SelectAudioDevice; empty: default
    std::string playback;
    double seconds = 0;     // 0: until stopped
    std::string tracePath;  // optional: one line per packet sent and per frame played
    bool quiet = false;     // no status line every second
    int32_t playout = 0;    // ORVO_PLAYOUT_STRETCH or ORVO_PLAYOUT_ADAPTIVE
};

// One way of carrying the talk link (talk packets over UDP, RTP, an RTSP session).
class Transport {
public:
    virtual ~Transport() = default;
    // Before the talk service starts: sockets, session set-up, Orvo_SetTalkCodec. false with
    // `error` set.
    virtual bool Open(std::string *error) = 0;
    // The talk service and playback run: last steps before the first packet (PLAY, SDP file).
    virtual bool Begin(std::string *) { return true; }
    // The sockets the loop waits on (up to `max`).
    virtual size_t Sockets(Socket **sockets, size_t max) = 0;
    // Reads what arrived on the readable sockets and hands the audio to the library. false with
    // `error` set when the link broke.
    virtual bool Receive(const bool *readable, std::string *error) = 0;
    // Sends one outgoing talk packet (as Orvo_GetAudioTalkData gives it); true when it went out.
    virtual bool Send(const unsigned char *packet, int32_t length) = 0;
    // Regular work between packets (session keep-alive). false with `error` set on failure.
    virtual bool Tick(std::string *) { return true; }
    // The link ends (TEARDOWN); bounded in time.
    virtual void Finish() {}
    // Packets received from the peer, and those refused because of their sender.
    virtual uint32_t Received() const = 0;
    virtual uint32_t RefusedSenders() const = 0;
    // One line on what the link does, printed at its start ("listening on udp port 5000, ...").
    virtual std::string Describe() const = 0;
    // Transport-specific counters for the status line ("" when none).
    virtual std::string StatusDetail() const { return ""; }
};

// Runs the link. 0 on a clean end; 1 with one line on stderr when it cannot start or breaks.
int RunLink(const LinkOptions &options, Transport *transport);

} // namespace orvo::talktool

#endif
