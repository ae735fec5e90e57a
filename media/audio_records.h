// Three small records for audio work beside the talk service: a PCM format description, a block
// of bytes, and a 480-sample frame encoder over the voice codec.
#ifndef ORVO_MEDIA_AUDIO_RECORDS_H
#define ORVO_MEDIA_AUDIO_RECORDS_H

#include <cstdint>

#include "orvoaudio/voice.h"
#include "platform/wave.h"

namespace orvo::media {

using platform::WAVEFORMATEX;

// A PCM format in the platform's WAVEFORMATEX layout whose block align and byte rate follow the
// other fields, plus a frame size that is only carried.
class CAudioFormat {
public:
    static constexpr uint16_t kDefaultChannels = 1;
    static constexpr uint32_t kDefaultSamplesPerSec = 8000;
    static constexpr uint16_t kDefaultBitsPerSample = 16;
    static constexpr int32_t kDefaultFrameSize = 480;

    CAudioFormat();
    virtual ~CAudioFormat() = default;

    void SetBitsPerSample(uint16_t bits);
    uint16_t GetBitsPerSample() const { return m_format.wBitsPerSample; }
    void SetSamplesPerSec(uint32_t rate);
    uint32_t GetSamplesPerSec() const { return m_format.nSamplesPerSec; }
    void SetChannels(uint16_t channels);
    uint16_t GetChannels() const { return m_format.nChannels; }
    void SetExtraSize(uint16_t size);
    uint16_t GetExtraSize() const { return m_format.cbSize; }

    // Block align = channels x (bits / 8); byte rate = rate x block align.
    void Recalculate();

    void SetFrameSize(int32_t size) { m_frameSize = size; }
    int32_t GetFrameSize() const { return m_frameSize; }

    WAVEFORMATEX *GetWaveFormat() { return &m_format; }
    // Copies all 18 bytes as given: the derived fields are not recomputed.
    void SetWaveFormat(const WAVEFORMATEX &format);

    static int32_t IsNonZero(int32_t value) { return value != 0 ? 1 : 0; }

private:
    WAVEFORMATEX m_format;
    int32_t m_frameSize;
};

// One block of bytes, allocated by the record or attached from the caller. A block the record
// allocated is released with the record (or when another block is attached); an attached block
// always stays the caller's.
class CFrameBuffer {
public:
    CFrameBuffer(uint32_t size, int32_t userValue);
    CFrameBuffer(uint8_t *data, uint32_t size);
    virtual ~CFrameBuffer();
    CFrameBuffer(const CFrameBuffer &) = delete;
    CFrameBuffer &operator=(const CFrameBuffer &) = delete;

    void Attach(uint8_t *data, uint32_t size);
    void Clear();
    // The block read as a voice frame: payload words from its header plus the header's own two;
    // 0 when the block is too short to hold a header.
    int32_t GetFrameWords() const;

    uint8_t *GetData() const { return m_data; }
    uint32_t GetSize() const { return m_size; }
    int32_t GetUserValue() const { return m_userValue; }

private:
    void ReleaseOwnBlock();

    uint8_t *m_data = nullptr;
    uint32_t m_size = 0;
    int32_t m_userValue = 0;
    bool m_ownsData = false;
};

// Encodes frames of 480 samples with the codec type given to Reset.
class CVoiceEncoder {
public:
    static constexpr int16_t kFrameSamples = 480;

    CVoiceEncoder();
    virtual ~CVoiceEncoder() = default;
    CVoiceEncoder(const CVoiceEncoder &) = delete;
    CVoiceEncoder &operator=(const CVoiceEncoder &) = delete;

    // Stores the type (also when the codec refuses it) and resets the encoder state.
    int32_t Reset(int16_t type);
    // One frame from 480 samples; `frame` has room for the largest frame of the type.
    int32_t Encode(const int16_t *samples, uint8_t *frame);

    int16_t GetType() const { return m_type; }

private:
    int16_t m_type;
    VoiceCodecState *m_state;
    VoiceCodecState m_embeddedState;
};

} // namespace orvo::media

#endif // ORVO_MEDIA_AUDIO_RECORDS_H
