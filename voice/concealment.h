// Packet loss concealment on decoded 8 kHz samples, in the manner of G.711 Appendix I: a missing
// frame is rebuilt by repeating the last pitch period of the good signal (one period at first, two
// after 10 ms, three after 20 ms, joined by overlap-add), attenuated by 20% per 10 ms from 10 ms on
// and silent after 60 ms; the first good frame after a loss is cross-faded in from the synthetic
// signal. It works on PCM, so it serves every codec type. Fixed buffers, no allocation.
#pragma once

#include <cstdint>

namespace orvo::voice {

constexpr int kPitchMinPeriod = 40;  // 200 Hz at 8000 Hz
constexpr int kPitchMaxPeriod = 120; // 66.7 Hz
// The correlation window of the pitch search: the last 20 ms.
constexpr int kPitchWindow = 160;

// The lag in [minPeriod, maxPeriod] at which x[length - window .. length) best matches itself
// `lag` samples earlier (normalised cross-correlation), for a buffer of at least
// window + maxPeriod samples. *score receives the normalised correlation in Q15 (0 when the
// signal has no energy). Returns minPeriod when the buffer is too short.
int FindPitchPeriod(const int16_t *x, int length, int minPeriod, int maxPeriod, int window,
                    int32_t *score);

class LossConcealer {
public:
    static constexpr int kHistorySamples = 3 * kPitchMaxPeriod + kPitchMaxPeriod / 4; // 390
    static constexpr int kAttenuationStartSamples = 80;   // 10 ms of full-level repetition
    static constexpr int kAttenuationStepSamples = 80;    // then 20% less per 10 ms
    static constexpr int kSilenceAfterSamples = 480;      // silent from 60 ms on
    static constexpr int kMaxRecoverySamples = 80;        // the cross-fade into a good frame

    LossConcealer() { Reset(); }
    // Forgets the signal: the next loss conceals from silence.
    void Reset();

    // A good frame, decoded. After a loss its start is cross-faded in place from the continued
    // synthetic signal, and the loss ends. Remember() it once it is final.
    void GoodFrame(int16_t *samples, int count);
    // Fills `count` samples for a missing frame.
    void ConcealFrame(int16_t *out, int count);
    // Appends good samples as they were played (after any shortening or lengthening) to the
    // history the next loss continues from. Concealed samples are not remembered.
    void Remember(const int16_t *samples, int count);

    // Samples concealed since the last good frame (0 outside a loss).
    int ErasedSamples() const { return m_erased; }
    bool InLoss() const { return m_erased > 0; }
    // The history (oldest first), kHistorySamples long, for pitch searches by the caller.
    const int16_t *History() const { return m_history; }

private:
    void AppendHistory(const int16_t *samples, int count);
    void StartLoss();
    // The next synthetic sample, attenuated for its place in the loss.
    int32_t NextSynthetic();
    int32_t Gain() const; // Q15, for m_erased samples into the loss
    void UsePeriods(int periods);

    int16_t m_history[kHistorySamples];
    int16_t m_pitchBuffer[kHistorySamples]; // the last periods at the start of the loss
    int m_period = kPitchMinPeriod;
    int m_periods = 1;   // periods being repeated now
    int m_position = 0;  // read position inside the repeated stretch, from its start
    int m_erased = 0;
    int m_overlap = kPitchMinPeriod / 4;
    // Overlap-add into a longer repeated stretch: its remaining length and the stretch left.
    int m_fadeLeft = 0;
    int m_fadeFromPosition = 0;
    int m_fadeFromPeriods = 1;
};

} // namespace orvo::voice
