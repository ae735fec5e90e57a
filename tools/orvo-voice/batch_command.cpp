// orvo-voice batch: codes many files at once, one codec channel per file, frame by frame through
// HI_VOICE_EncodeFrames / HI_VOICE_DecodeFrames, so every round of frames is one batched call.
// The files give the same bytes as `encode` and `decode` give them one at a time.
#include "batch_command.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <set>

#include "orvo_tool/args.h"
#include "orvo_tool/codec_types.h"
#include "orvo_tool/file_io.h"
#include "orvo_tool/ovf_file.h"
#include "orvo_tool/voice_pipeline.h"
#include "orvo_tool/wav_file.h"
#include "orvoaudio/voice.h"

namespace orvo::tool {
namespace {

namespace fs = std::filesystem;

// The tool's exit statuses (see the usage text of orvo-voice).
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitBadInput = 2;
constexpr int kExitIo = 3;
constexpr int kExitCodec = 4;

// A progress line goes to stderr when a run has at least this many frames, about every percent.
constexpr uint64_t kProgressMinFrames = 20000;
constexpr int kPercent = 100;

int Usage(const std::string &message)
{
    std::fprintf(stderr, "orvo-voice: %s\n(see 'orvo-voice help')\n", message.c_str());
    return kExitUsage;
}

int Fail(int code, const std::string &message)
{
    std::fprintf(stderr, "orvo-voice: %s\n", message.c_str());
    return code;
}

// One file and its codec channel.
struct Job {
    std::string input, output;
    const CodecTypeInfo *type = nullptr;
    BlockPlan plan;
    std::vector<int16_t> pcm; // encode: the source; decode: the decoded samples
    OvfFile ovf;              // encode: the frames written; decode: the frames read
    VoiceCodecState state{};
    std::array<uint8_t, kMaxFrameBytes> frame{};
    std::array<int16_t, HI_VOICE_MAX_SAMPLES> samples{};
};

class Progress {
public:
    explicit Progress(uint64_t total) : total_(total), shown_(total >= kProgressMinFrames) {}
    void Update(uint64_t done)
    {
        if (!shown_)
            return;
        const int percent = static_cast<int>(done * kPercent / total_);
        if (percent != last_) {
            last_ = percent;
            std::fprintf(stderr, "\rorvo-voice: batch: %3d%% (%llu of %llu frames)", percent,
                         static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_));
            std::fflush(stderr);
        }
    }
    ~Progress()
    {
        if (shown_ && last_ >= 0)
            std::fputc('\n', stderr);
    }

private:
    uint64_t total_;
    bool shown_;
    int last_ = -1;
};

// Codes round after round: in round r, frame r of every job that has one, in batched calls of at
// most HI_VOICE_MAX_CHANNELS channels. `code_round` codes the given jobs' frame r.
template <typename CodeRound>
int RunRounds(std::vector<Job> &jobs, const std::vector<uint32_t> &frames_of, CodeRound code_round)
{
    const uint32_t rounds = *std::max_element(frames_of.begin(), frames_of.end());
    uint64_t total = 0;
    for (uint32_t f : frames_of)
        total += f;
    Progress progress(total);
    uint64_t done = 0;
    std::vector<Job *> active;
    active.reserve(jobs.size());
    for (uint32_t round = 0; round < rounds; ++round) {
        active.clear();
        for (std::size_t j = 0; j < jobs.size(); ++j)
            if (round < frames_of[j])
                active.push_back(&jobs[j]);
        for (std::size_t start = 0; start < active.size(); start += HI_VOICE_MAX_CHANNELS) {
            const std::size_t n = std::min<std::size_t>(HI_VOICE_MAX_CHANNELS, active.size() - start);
            const int code = code_round(active.data() + start, n, round);
            if (code != kExitOk)
                return code;
        }
        done += active.size();
        progress.Update(done);
    }
    return kExitOk;
}

int EncodeJobs(std::vector<Job> &jobs, int block)
{
    std::vector<uint32_t> frames_of;
    for (Job &job : jobs) {
        const int32_t status = HI_VOICE_EncReset(&job.state, job.type->number);
        if (status != 0)
            return Fail(kExitCodec, "HI_VOICE_EncReset failed: " + DescribeCodecStatus(status));
        const uint32_t frames = static_cast<uint32_t>((job.pcm.size() + block - 1) / block);
        job.ovf.header = {job.type->number, static_cast<uint16_t>(block), frames, static_cast<uint32_t>(job.pcm.size())};
        job.ovf.frame_bytes = static_cast<std::size_t>(job.plan.frame_bytes);
        job.ovf.frames.reserve(static_cast<std::size_t>(frames) * job.ovf.frame_bytes);
        frames_of.push_back(frames);
    }
    std::vector<VoiceCodecState *> states(jobs.size());
    std::vector<const int16_t *> inputs(jobs.size());
    std::vector<void *> outputs(jobs.size());
    std::vector<int32_t> results(jobs.size());
    return RunRounds(jobs, frames_of, [&](Job **active, std::size_t n, uint32_t round) {
        for (std::size_t i = 0; i < n; ++i) {
            Job &job = *active[i];
            // The last block is padded with zeros, as `encode` does it.
            const std::size_t start = static_cast<std::size_t>(round) * block;
            const std::size_t take = std::min<std::size_t>(block, job.pcm.size() - start);
            std::copy_n(job.pcm.begin() + static_cast<std::ptrdiff_t>(start), take, job.samples.begin());
            std::fill(job.samples.begin() + static_cast<std::ptrdiff_t>(take), job.samples.end(), 0);
            states[i] = &job.state;
            inputs[i] = job.samples.data();
            outputs[i] = job.frame.data();
        }
        HI_VOICE_EncodeFrames(states.data(), inputs.data(), outputs.data(), static_cast<int16_t>(block),
                              static_cast<int32_t>(n), results.data());
        for (std::size_t i = 0; i < n; ++i) {
            Job &job = *active[i];
            if (results[i] != 0)
                return Fail(kExitCodec, job.input + ": frame " + std::to_string(round) + ": " +
                                            DescribeCodecStatus(results[i]));
            job.ovf.frames.insert(job.ovf.frames.end(), job.frame.begin(), job.frame.begin() + job.plan.frame_bytes);
        }
        return kExitOk;
    });
}

int DecodeJobs(std::vector<Job> &jobs)
{
    std::vector<uint32_t> frames_of;
    for (Job &job : jobs) {
        const int32_t status = HI_VOICE_DecReset(&job.state, job.type->number);
        if (status != 0)
            return Fail(kExitCodec, "HI_VOICE_DecReset failed: " + DescribeCodecStatus(status));
        job.pcm.reserve(job.ovf.header.sample_count);
        frames_of.push_back(job.ovf.header.frame_count);
    }
    std::vector<VoiceCodecState *> states(jobs.size());
    std::vector<void *> inputs(jobs.size());
    std::vector<int16_t *> outputs(jobs.size());
    std::vector<int16_t> counts(jobs.size());
    std::vector<int32_t> results(jobs.size());
    return RunRounds(jobs, frames_of, [&](Job **active, std::size_t n, uint32_t round) {
        for (std::size_t i = 0; i < n; ++i) {
            Job &job = *active[i];
            // Decoding re-orders MSB-first payloads in place: every frame is decoded from a copy.
            std::copy_n(job.ovf.Frame(round), job.ovf.frame_bytes, job.frame.begin());
            states[i] = &job.state;
            inputs[i] = job.frame.data();
            outputs[i] = job.samples.data();
        }
        HI_VOICE_DecodeFrames(states.data(), inputs.data(), outputs.data(), counts.data(), static_cast<int32_t>(n),
                              results.data());
        for (std::size_t i = 0; i < n; ++i) {
            Job &job = *active[i];
            const uint64_t offset = kOvfHeaderBytes + static_cast<uint64_t>(round) * job.ovf.frame_bytes;
            if (results[i] != 0 || counts[i] != job.plan.carried)
                return Fail(kExitCodec, job.input + ": frame " + std::to_string(round) + " at byte offset " +
                                            std::to_string(offset) + ": " +
                                            (results[i] != 0 ? DescribeCodecStatus(results[i])
                                                             : "decoded to " + std::to_string(counts[i]) + " samples"));
            // Of the samples a frame carries, those that stand for source samples (not the padding
            // of the last block) are kept.
            const std::size_t start = static_cast<std::size_t>(round) * job.ovf.header.block_samples;
            const std::size_t keep =
                std::min<std::size_t>(static_cast<std::size_t>(job.plan.carried), job.ovf.header.sample_count - start);
            job.pcm.insert(job.pcm.end(), job.samples.begin(), job.samples.begin() + static_cast<std::ptrdiff_t>(keep));
        }
        return kExitOk;
    });
}

} // namespace

int RunBatchCommand(const std::vector<std::string> &args)
{
    if (args.empty() || (args[0] != "encode" && args[0] != "decode"))
        return Usage("batch takes 'encode' or 'decode', then the files");
    const bool encode = args[0] == "encode";
    ParsedArgs parsed;
    std::string error;
    if (!ParseArgs(std::vector<std::string>(args.begin() + 1, args.end()), {{"type", true}, {"block", true}}, &parsed,
                   &error))
        return Usage(error);
    if (parsed.positional.size() < 2)
        return Usage("batch " + args[0] + " takes input files and an output directory");
    const CodecTypeInfo *type = nullptr;
    if (parsed.Has("type") && !(type = ParseCodecType(parsed.Get("type"))))
        return Usage("unknown codec type '" + parsed.Get("type") + "' (known: " + CodecTypeNames() + ")");
    if (encode && type == nullptr)
        return Usage("--type is required (" + CodecTypeNames() + ")");
    if (!encode && parsed.Has("block"))
        return Usage("--block applies to batch encode only");
    BlockPlan plan;
    int block = 0;
    if (encode) {
        long value = DefaultBlockFor(*type);
        if (parsed.Has("block") &&
            !ParseIntArg(parsed.Get("block"), "--block", 1, kMaxBlockSamples, &value, &error))
            return Usage(error);
        block = static_cast<int>(value);
        plan = PlanBlock(*type, block);
        if (!plan.usable)
            return Usage(plan.problem);
    }
    const fs::path outdir = parsed.positional.back();
    std::error_code ec;
    if (!fs::is_directory(outdir, ec))
        return Fail(kExitIo, "output directory " + outdir.string() + " does not exist");

    std::vector<Job> jobs(parsed.positional.size() - 1);
    std::set<std::string> names;
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        Job &job = jobs[j];
        job.input = parsed.positional[j];
        const std::string name = fs::path(job.input).stem().string() + (encode ? ".ovf" : ".wav");
        if (!names.insert(name).second)
            return Usage("two inputs would both write " + name);
        job.output = (outdir / name).string();
        std::vector<uint8_t> bytes;
        if (!ReadWholeFile(job.input, &bytes, &error))
            return Fail(kExitIo, error);
        if (encode) {
            if (!ParseVoiceWav(bytes.data(), bytes.size(), &job.pcm, &error))
                return Fail(kExitBadInput, job.input + ": " + error);
            if (job.pcm.empty() || job.pcm.size() > kMaxWavSamples)
                return Fail(kExitBadInput, job.input + ": no samples to encode, or more than a frame file holds");
            job.type = type;
            job.plan = plan;
        } else {
            OvfError ovf_error;
            if (!ParseOvf(bytes.data(), bytes.size(), &job.ovf, &ovf_error))
                return Fail(kExitBadInput, job.input + ": " + ovf_error.message);
            job.type = FindCodecType(job.ovf.header.codec_type);
            if (type != nullptr && job.type != type)
                return Fail(kExitBadInput, job.input + ": holds " + job.type->name + " frames, not " + type->name);
            job.plan = PlanBlock(*job.type, job.ovf.header.block_samples);
            if (job.ovf.header.frame_count == 0)
                return Fail(kExitBadInput, job.input + ": holds no frames");
        }
    }
    if (!plan.warning.empty())
        std::fprintf(stderr, "orvo-voice: warning: %s\n", plan.warning.c_str());

    const int code = encode ? EncodeJobs(jobs, block) : DecodeJobs(jobs);
    if (code != kExitOk)
        return code;
    // Outputs appear only when every file is coded; a failed write removes those already written.
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const std::vector<uint8_t> bytes = encode ? SerializeOvf(jobs[j].ovf) : SerializeVoiceWav(jobs[j].pcm);
        if (!WriteFileAtomically(jobs[j].output, bytes, &error)) {
            for (std::size_t k = 0; k < j; ++k)
                fs::remove(jobs[k].output, ec);
            return Fail(kExitIo, error);
        }
    }
    uint64_t frames = 0, samples = 0;
    for (const Job &job : jobs) {
        frames += encode ? job.ovf.header.frame_count : job.ovf.header.frame_count;
        samples += job.pcm.size();
    }
    std::printf("batch %s: %zu files, %llu frames, %llu samples -> %s\n", args[0].c_str(), jobs.size(),
                static_cast<unsigned long long>(frames), static_cast<unsigned long long>(samples),
                outdir.string().c_str());
    return kExitOk;
}

} // namespace orvo::tool
