// orvo-voice: the voice codec on files. Encodes 8000 Hz mono 16-bit WAV files into .ovf frame
// files and back, measures round trips, describes frame files and writes a test signal.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "batch_command.h"
#include "orvo_tool/args.h"
#include "orvo_tool/codec_types.h"
#include "orvo_tool/file_io.h"
#include "orvo_tool/ovf_file.h"
#include "orvo_tool/signal_tools.h"
#include "orvo_tool/voice_pipeline.h"
#include "orvo_tool/wav_file.h"

namespace orvo::tool {
namespace {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,    // bad command line
    kExitBadInput = 2, // an input file is not what is needed
    kExitIo = 3,       // a file cannot be read or written
    kExitCodec = 4,    // the codec refused a call it should have taken
};

constexpr double kDefaultSeconds = 3.0;
constexpr double kMinSeconds = 0.001;
constexpr double kMaxSeconds = 3600.0;
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kBitsPerKilobit = 1000.0;
constexpr double kBitsPerByte = 8.0;
constexpr int kBytesPerWord = 2;

const char kUsage[] =
    "usage: orvo-voice COMMAND [OPTIONS] FILES\n"
    "\n"
    "commands:\n"
    "  encode --type TYPE [--block N] IN.wav OUT.ovf     encode a WAV file into an .ovf frame file\n"
    "  decode IN.ovf OUT.wav                             decode an .ovf frame file into a WAV file\n"
    "  roundtrip --type TYPE [--block N] IN.wav OUT.wav  encode and decode; print SNR and segmental SNR\n"
    "  batch encode --type TYPE [--block N] IN.wav... OUTDIR\n"
    "                                                    encode many files at once (batched codec calls)\n"
    "  batch decode [--type TYPE] IN.ovf... OUTDIR       decode many files at once into OUTDIR/NAME.wav\n"
    "  info FILE.ovf                                     describe an .ovf frame file\n"
    "  types                                             list the codec types\n"
    "  generate OUT.wav [--seconds S]                    write a speech-like test signal (default 3 s)\n"
    "  help                                              show this text\n"
    "\n"
    "TYPE   a name (g711a, g711u, dvi4, ima, g726-16 ... g726-40, g726-16-msb ... g726-40-msb),\n"
    "       a constant (VOICE_G711_U) or a number (1-7, 35-39); see 'orvo-voice types'.\n"
    "N      samples handed to the encoder per frame, 1-481; default 160 (20 ms), 161 for ima,\n"
    "       whose frames carry 4k + 1 samples. G.711 and G.726 frames decode only for 80, 160,\n"
    "       240, 320, 400 or 480 samples, so other sizes whose frames the decoder refuses are\n"
    "       refused here up front; a size whose frames drop samples of their block (dvi4 with\n"
    "       162, ima with 160, ...) gives a warning.\n"
    "WAV    8000 Hz, 1 channel, 16-bit integer PCM; anything else is refused.\n"
    "\n"
    "Output files appear only when complete: a failed command leaves no file behind, and a\n"
    "damaged .ovf file is refused whole with the byte offset of the first fault. Outputs that are\n"
    "not regular files (/dev/stdout, a FIFO) are written through, symbolic links are followed, and\n"
    "an output that is the input file is refused. Writing to standard output moves the report\n"
    "line to standard error.\n"
    "\n"
    "exit status: 0 success, 1 usage error, 2 bad input file, 3 file cannot be read or written,\n"
    "             4 codec failure\n";

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

void Warn(const std::string &message) { std::fprintf(stderr, "orvo-voice: warning: %s\n", message.c_str()); }

std::string FormatDb(double db)
{
    if (std::isnan(db)) return "n/a";
    if (std::isinf(db)) return db > 0 ? "inf dB (identical)" : "-inf dB";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f dB", db);
    return text;
}

std::string Seconds(uint64_t samples)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(samples) / kSampleRate);
    return text;
}

// Parses the command's arguments and checks the number of file arguments.
bool ParseCommand(const std::vector<std::string> &args, const std::vector<OptionSpec> &specs, size_t files,
                  const char *what, ParsedArgs *parsed, int *exit_code)
{
    std::string error;
    if (!ParseArgs(args, specs, parsed, &error)) {
        *exit_code = Usage(error);
        return false;
    }
    if (parsed->positional.size() != files) {
        *exit_code = Usage(std::string(what) + " takes " + std::to_string(files) + " file argument" +
                           (files == 1 ? "" : "s") + ", got " + std::to_string(parsed->positional.size()));
        return false;
    }
    // Writing the output would destroy the input before it is read whole (and leave a frame
    // file where the source recording was).
    if (files == 2 && IsSameFile(parsed->positional[0], parsed->positional[1])) {
        *exit_code = Usage("the output " + parsed->positional[1] + " is the input file " + parsed->positional[0]);
        return false;
    }
    return true;
}

// Where the report of a command goes: standard output, unless the output file is written there.
std::FILE *ReportStream(const std::string &output) { return IsStandardOutputFile(output) ? stderr : stdout; }

// The --type and --block options of encode and roundtrip.
bool ParseCodecOptions(const ParsedArgs &parsed, const CodecTypeInfo **type, BlockPlan *plan, int *exit_code)
{
    if (!parsed.Has("type")) {
        *exit_code = Usage("--type is required (" + CodecTypeNames() + ")");
        return false;
    }
    *type = ParseCodecType(parsed.Get("type"));
    if (!*type) {
        *exit_code = Usage("unknown codec type '" + parsed.Get("type") + "' (known: " + CodecTypeNames() +
                           ", or the numbers 1-7, 35-39)");
        return false;
    }
    long block = DefaultBlockFor(**type);
    std::string error;
    if (parsed.Has("block") && !ParseIntArg(parsed.Get("block"), "--block", 1, kMaxBlockSamples, &block, &error)) {
        *exit_code = Usage(error);
        return false;
    }
    *plan = PlanBlock(**type, static_cast<int>(block));
    if (!plan->usable) {
        *exit_code = Usage(plan->problem);
        return false;
    }
    if (!plan->warning.empty()) Warn(plan->warning);
    return true;
}

int LoadWav(const std::string &path, std::vector<int16_t> *pcm)
{
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadWholeFile(path, &bytes, &error)) return Fail(kExitIo, error);
    if (!ParseVoiceWav(bytes.data(), bytes.size(), pcm, &error)) return Fail(kExitBadInput, path + ": " + error);
    return kExitOk;
}

int LoadOvf(const std::string &path, OvfFile *file, size_t *file_bytes)
{
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadWholeFile(path, &bytes, &error)) return Fail(kExitIo, error);
    OvfError ovf_error;
    if (!ParseOvf(bytes.data(), bytes.size(), file, &ovf_error))
        return Fail(kExitBadInput, path + ": " + ovf_error.message);
    if (file_bytes) *file_bytes = bytes.size();
    return kExitOk;
}

int Save(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::string error;
    return WriteFileAtomically(path, bytes, &error) ? kExitOk : Fail(kExitIo, error);
}

const std::vector<OptionSpec> kCodecOptions = {{"type", true}, {"block", true}};

int Encode(const std::vector<std::string> &args)
{
    ParsedArgs parsed;
    int code = kExitOk;
    const CodecTypeInfo *type = nullptr;
    BlockPlan plan;
    if (!ParseCommand(args, kCodecOptions, 2, "encode", &parsed, &code) ||
        !ParseCodecOptions(parsed, &type, &plan, &code))
        return code;
    std::vector<int16_t> pcm;
    if ((code = LoadWav(parsed.positional[0], &pcm)) != kExitOk) return code;
    OvfFile file;
    std::string error;
    if (!EncodeToOvf(*type, plan.block, pcm, &file, &error)) return Fail(kExitCodec, error);
    const std::vector<uint8_t> bytes = SerializeOvf(file);
    std::FILE *report = ReportStream(parsed.positional[1]);
    if ((code = Save(parsed.positional[1], bytes)) != kExitOk) return code;
    std::fprintf(report, "encoded %zu samples into %u %s frames of %d bytes: %s (%zu bytes)\n", pcm.size(),
                file.header.frame_count, type->name, plan.frame_bytes, parsed.positional[1].c_str(), bytes.size());
    return kExitOk;
}

int Decode(const std::vector<std::string> &args)
{
    ParsedArgs parsed;
    int code = kExitOk;
    if (!ParseCommand(args, {}, 2, "decode", &parsed, &code)) return code;
    OvfFile file;
    if ((code = LoadOvf(parsed.positional[0], &file, nullptr)) != kExitOk) return code;
    std::vector<int16_t> pcm;
    std::string error;
    if (!DecodeOvf(file, &pcm, &error)) return Fail(kExitCodec, parsed.positional[0] + ": " + error);
    std::FILE *report = ReportStream(parsed.positional[1]);
    if ((code = Save(parsed.positional[1], SerializeVoiceWav(pcm))) != kExitOk) return code;
    std::fprintf(report, "decoded %u %s frames into %zu samples: %s\n", file.header.frame_count,
                FindCodecType(file.header.codec_type)->name, pcm.size(), parsed.positional[1].c_str());
    return kExitOk;
}

int Roundtrip(const std::vector<std::string> &args)
{
    ParsedArgs parsed;
    int code = kExitOk;
    const CodecTypeInfo *type = nullptr;
    BlockPlan plan;
    if (!ParseCommand(args, kCodecOptions, 2, "roundtrip", &parsed, &code) ||
        !ParseCodecOptions(parsed, &type, &plan, &code))
        return code;
    std::vector<int16_t> pcm;
    if ((code = LoadWav(parsed.positional[0], &pcm)) != kExitOk) return code;
    OvfFile file;
    std::vector<int16_t> decoded;
    std::string error;
    if (!EncodeToOvf(*type, plan.block, pcm, &file, &error) || !DecodeOvf(file, &decoded, &error))
        return Fail(kExitCodec, error);
    const std::vector<int16_t> reference = CarriedSourceSamples(pcm, *type, plan.block);
    if (reference.size() != decoded.size())
        return Fail(kExitCodec, "decoded " + std::to_string(decoded.size()) + " samples, expected " +
                                    std::to_string(reference.size()));
    std::FILE *report = ReportStream(parsed.positional[1]);
    if ((code = Save(parsed.positional[1], SerializeVoiceWav(decoded))) != kExitOk) return code;
    const SnrResult snr = MeasureSnr(reference.data(), decoded.data(), decoded.size());
    std::fprintf(report, "%-12s block %3d: SNR %s, segmental SNR %s (%zu samples) -> %s\n", type->name, plan.block,
                FormatDb(snr.snr_db).c_str(), FormatDb(snr.segmental_snr_db).c_str(), snr.samples,
                parsed.positional[1].c_str());
    return kExitOk;
}

int Info(const std::vector<std::string> &args)
{
    ParsedArgs parsed;
    int code = kExitOk;
    if (!ParseCommand(args, {}, 1, "info", &parsed, &code)) return code;
    OvfFile file;
    size_t file_bytes = 0;
    if ((code = LoadOvf(parsed.positional[0], &file, &file_bytes)) != kExitOk) return code;
    const OvfHeader &h = file.header;
    const CodecTypeInfo &type = *FindCodecType(h.codec_type);
    const BlockPlan plan = PlanBlock(type, h.block_samples);
    std::printf("file:        %s\n", parsed.positional[0].c_str());
    std::printf("format:      OVF version %u\n", kOvfVersion);
    std::printf("codec type:  %d %s (%s, %s)\n", type.number, type.name, type.constant, type.description);
    std::printf("block:       %u samples per frame (%.1f ms)\n", h.block_samples,
                h.block_samples * kMillisecondsPerSecond / kSampleRate);
    std::printf("frame:       %zu bytes (length %d words), decodes to %d samples\n", file.frame_bytes, plan.words,
                plan.carried);
    std::printf("frames:      %u\n", h.frame_count);
    std::printf("samples:     %u (%s)\n", h.sample_count, Seconds(h.sample_count).c_str());
    std::printf("bytes:       %zu (header %zu, frames %zu)\n", file_bytes, kOvfHeaderBytes, file.frames.size());
    // Each frame stands for one block of time, so its rate follows from the block length.
    const double frames_per_second = static_cast<double>(kSampleRate) / h.block_samples;
    const double frame_kbps = kBitsPerByte * static_cast<double>(file.frame_bytes) * frames_per_second / kBitsPerKilobit;
    const double payload_kbps = kBitsPerByte * kBytesPerWord * plan.words * frames_per_second / kBitsPerKilobit;
    std::printf("bit rate:    %.1f kbit/s in frames, %.1f kbit/s payload (%s nominal %g kbit/s)\n", frame_kbps,
                payload_kbps, type.name, type.bit_rate / kBitsPerKilobit);
    if (!plan.warning.empty()) std::printf("note:        %s\n", plan.warning.c_str());
    return kExitOk;
}

int Types(const std::vector<std::string> &args)
{
    ParsedArgs parsed;
    int code = kExitOk;
    if (!ParseCommand(args, {}, 0, "types", &parsed, &code)) return code;
    std::printf("%-6s %-12s %-20s %-9s %s\n", "number", "name", "constant", "bit rate", "codec");
    for (const CodecTypeInfo &type : AllCodecTypes()) {
        const std::string rate = std::to_string(type.bit_rate / 1000) + " kbit/s";
        std::printf("%-6d %-12s %-20s %-9s %s\n", type.number, type.name, type.constant, rate.c_str(),
                    type.description);
    }
    return kExitOk;
}

int Generate(const std::vector<std::string> &args)
{
    ParsedArgs parsed;
    int code = kExitOk;
    if (!ParseCommand(args, {{"seconds", true}}, 1, "generate", &parsed, &code)) return code;
    double seconds = kDefaultSeconds;
    std::string error;
    if (parsed.Has("seconds") &&
        !ParseNumberArg(parsed.Get("seconds"), "--seconds", kMinSeconds, kMaxSeconds, &seconds, &error))
        return Usage(error);
    const std::vector<int16_t> pcm = GenerateSpeechLike(seconds);
    std::FILE *report = ReportStream(parsed.positional[0]);
    if ((code = Save(parsed.positional[0], SerializeVoiceWav(pcm))) != kExitOk) return code;
    std::fprintf(report, "wrote %zu samples (%s) of speech-like test signal: %s\n", pcm.size(), Seconds(pcm.size()).c_str(),
                parsed.positional[0].c_str());
    return kExitOk;
}

int Run(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == "encode") return Encode(args);
    if (command == "decode") return Decode(args);
    if (command == "roundtrip") return Roundtrip(args);
    if (command == "batch") return RunBatchCommand(args);
    if (command == "info") return Info(args);
    if (command == "types") return Types(args);
    if (command == "generate") return Generate(args);
    return Usage("unknown command '" + command + "'");
}

} // namespace
} // namespace orvo::tool

int main(int argc, char **argv)
{
    try {
        return orvo::tool::Run(argc, argv);
    } catch (const std::exception &e) { // out of memory on a huge file, and the like
        return orvo::tool::Fail(orvo::tool::kExitIo, std::string("failed: ") + e.what());
    }
}
