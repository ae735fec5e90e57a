#include "talk/stretch_playout.h"

#include <algorithm>

#include "talk/audio_play_thread.h"

namespace orvo::talk {

uint32_t StretchPlayout::IdleSleepMs() const { return kPlayIdleSleepMs; }

int32_t StretchPlayout::DeviceBlockLimit() const { return kPlayBlockCount; }

StretchPlayout::PassAction StretchPlayout::ChooseAction(const CAudioPlayThread &thread,
                                                        int32_t queued)
{
    if (queued >= kPlayConsumeThreshold)
        return PassAction::Consume;
    if (queued >= 1)
        return thread.m_nRepeatCounter.load(std::memory_order_relaxed) > 0 ? PassAction::Consume
                                                                           : PassAction::Repeat;
    return PassAction::None;
}

StretchPlayout::PassResult StretchPlayout::Pass(CAudioPlayThread &thread, int32_t,
                                                int16_t *samples, int32_t capacity,
                                                int32_t *sampleCount)
{
    int32_t queued = thread.m_nQueued.load(std::memory_order_acquire);
    PassAction action = ChooseAction(thread, queued);
    if (action == PassAction::None)
        return PassResult::Idle;

    // Sequence gate: a head 1 to 9 ahead of the expected number waits.
    const PlayFrameSlot &head = thread.m_frames[thread.m_nReadIndex];
    uint32_t ahead = head.sequence - thread.m_nExpectedSequence.load(std::memory_order_acquire);
    if (ahead >= 1 && ahead <= kPlaySequenceHoldSpan)
        return PassResult::Idle;

    uint16_t length = std::min<uint16_t>(head.length, kPlayPayloadBytes);
    thread.StagePayload(head.payload, length); // before the slot goes back to the producer
    // Each frame is decoded with its own codec: a change of codec, or a new stream, starts the
    // decoder afresh (G.726 carries state from frame to frame).
    if (head.type != thread.m_decoder.type || head.resetDecoder)
        HI_VOICE_DecReset(&thread.m_decoder, head.type);
    if (action == PassAction::Consume) {
        thread.m_nReadIndex = (thread.m_nReadIndex + 1) % kPlayQueueSlots;
        // Only this thread lowers the count, so a count seen above 0 stays above 0.
        if (thread.m_nQueued.load(std::memory_order_acquire) > 0)
            thread.m_nQueued.fetch_sub(1, std::memory_order_acq_rel);
        if (thread.m_nRepeatCounter.load(std::memory_order_relaxed) <= 0)
            thread.m_nRepeatCounter.store(kPlayRepeatInterval, std::memory_order_relaxed);
        thread.m_framesConsumed.fetch_add(1, std::memory_order_relaxed);
    } else {
        // The head stays; the next pass that takes a frame consumes it, playing it again.
        thread.m_nRepeatCounter.store(kPlayRepeatInterval, std::memory_order_relaxed);
        thread.m_framesRepeated.fetch_add(1, std::memory_order_relaxed);
    }

    thread.m_nRepeatCounter.fetch_sub(1, std::memory_order_relaxed);
    // A repeat decodes from a copy of the decoder, so that the frame's own play (the next
    // consume) starts from the same state: a codec with memory (G.726) then plays the frame the
    // same both times and goes on as if it had been played once. G.711 and DVI4 keep no state
    // between frames, for them this changes nothing.
    VoiceCodecState repeatDecoder;
    VoiceCodecState *decoder = nullptr;
    if (action == PassAction::Repeat) {
        repeatDecoder = thread.m_decoder;
        decoder = &repeatDecoder;
    }
    *sampleCount = thread.DecodeStaged(length, samples, capacity, decoder); // rejected: 0 samples
    return PassResult::Block;
}

} // namespace orvo::talk
