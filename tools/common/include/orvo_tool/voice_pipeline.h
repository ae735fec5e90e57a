// Whole signals through the public codec functions: PCM to an .ovf frame file and back.
#ifndef ORVO_TOOL_VOICE_PIPELINE_H
#define ORVO_TOOL_VOICE_PIPELINE_H

#include <cstdint>
#include <string>
#include <vector>

#include "orvo_tool/codec_types.h"
#include "orvo_tool/ovf_file.h"

namespace orvo::tool {

// "0xA1222012 (frame length not accepted)"
std::string DescribeCodecStatus(int32_t status);

// Encodes `pcm` in blocks of `block` samples (the last one padded with zeros) with one encoder
// state. `block` must be usable for `type` (PlanBlock). Fails only if the codec refuses a call
// or writes a frame of another length than the frame size rules give.
bool EncodeToOvf(const CodecTypeInfo &type, int block, const std::vector<int16_t> &pcm, OvfFile *out,
                 std::string *error);

// Decodes every frame of a parsed file with one decoder state. Frame k stands for source samples
// k x block onwards; of the samples it decodes to, those that stand for source samples (not the
// padding of the last block) are appended to `pcm`.
bool DecodeOvf(const OvfFile &file, std::vector<int16_t> *pcm, std::string *error);

// The source samples that DecodeOvf's output stands for, in the same order, so the two can be
// compared sample by sample even when frames carry less than their whole block.
std::vector<int16_t> CarriedSourceSamples(const std::vector<int16_t> &pcm, const CodecTypeInfo &type, int block);

} // namespace orvo::tool

#endif
