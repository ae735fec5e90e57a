#include "media/audio_records.h"

#include <cstring>
#include <new>

namespace orvo::media {

namespace {
constexpr uint32_t kBitsPerByte = 8;
constexpr uint32_t kFrameHeaderBytes = 4;
constexpr uint32_t kFrameLengthOffset = 2;
constexpr int32_t kFrameHeaderWords = 2;
} // namespace

CAudioFormat::CAudioFormat() : m_format(), m_frameSize(kDefaultFrameSize)
{
    m_format.wFormatTag = platform::WAVE_FORMAT_PCM;
    m_format.nChannels = kDefaultChannels;
    m_format.nSamplesPerSec = kDefaultSamplesPerSec;
    m_format.wBitsPerSample = kDefaultBitsPerSample;
    m_format.cbSize = 0;
    Recalculate();
}

void CAudioFormat::SetBitsPerSample(uint16_t bits)
{
    m_format.wBitsPerSample = bits;
    Recalculate();
}

void CAudioFormat::SetSamplesPerSec(uint32_t rate)
{
    m_format.nSamplesPerSec = rate;
    Recalculate();
}

void CAudioFormat::SetChannels(uint16_t channels)
{
    m_format.nChannels = channels;
    Recalculate();
}

void CAudioFormat::SetExtraSize(uint16_t size)
{
    m_format.cbSize = size;
    Recalculate();
}

void CAudioFormat::Recalculate()
{
    const uint32_t bytesPerSample = m_format.wBitsPerSample / kBitsPerByte;
    m_format.nBlockAlign = static_cast<uint16_t>(m_format.nChannels * bytesPerSample);
    m_format.nAvgBytesPerSec = m_format.nSamplesPerSec * m_format.nBlockAlign;
}

void CAudioFormat::SetWaveFormat(const WAVEFORMATEX &format)
{
    std::memcpy(&m_format, &format, sizeof(WAVEFORMATEX));
}

CFrameBuffer::CFrameBuffer(uint32_t size, int32_t userValue) : m_userValue(userValue)
{
    try {
        m_data = new uint8_t[size];
        m_size = size;
        m_ownsData = true;
    } catch (const std::bad_alloc &) {
        // Out of memory is not reported: the record simply holds no block.
        m_data = nullptr;
        m_size = 0;
    }
}

CFrameBuffer::CFrameBuffer(uint8_t *data, uint32_t size) { Attach(data, size); }

CFrameBuffer::~CFrameBuffer() { ReleaseOwnBlock(); }

void CFrameBuffer::ReleaseOwnBlock()
{
    if (m_ownsData) {
        delete[] m_data;
        m_ownsData = false;
    }
    m_data = nullptr;
    m_size = 0;
}

void CFrameBuffer::Attach(uint8_t *data, uint32_t size)
{
    ReleaseOwnBlock();
    m_userValue = 0;
    if (data != nullptr) {
        m_data = data;
        m_size = size;
    }
}

void CFrameBuffer::Clear()
{
    if (m_data != nullptr) {
        std::memset(m_data, 0, m_size);
    }
}

int32_t CFrameBuffer::GetFrameWords() const
{
    if (m_data == nullptr || m_size < kFrameHeaderBytes) {
        return 0;
    }
    // The header's length word is little-endian and read as signed.
    const uint16_t raw = static_cast<uint16_t>(m_data[kFrameLengthOffset] |
                                               m_data[kFrameLengthOffset + 1] << kBitsPerByte);
    return static_cast<int16_t>(raw) + kFrameHeaderWords;
}

CVoiceEncoder::CVoiceEncoder() : m_type(VOICE_G711_U), m_state(&m_embeddedState), m_embeddedState()
{
}

int32_t CVoiceEncoder::Reset(int16_t type)
{
    m_type = type;
    return HI_VOICE_EncReset(m_state, type);
}

int32_t CVoiceEncoder::Encode(const int16_t *samples, uint8_t *frame)
{
    return HI_VOICE_EncodeFrame(m_state, samples, frame, kFrameSamples);
}

} // namespace orvo::media
