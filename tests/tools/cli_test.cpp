// Runs the orvo-voice binary as a user would and checks its messages, exit codes and files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "orvo_tool/file_io.h"
#include "orvo_tool/ovf_file.h"
#include "orvo_tool/wav_file.h"
#include "orvoaudio/voice.h"
#include "wav_builder.h"

namespace orvo::tool {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int exit_code;
    std::string out, err;
};

class OrvoVoiceCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(ORVO_TOOL_WORK_DIR) / (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }

    std::string Path(const std::string &name) const { return (dir_ / name).string(); }

    ToolRun Tool(const std::string &args) const
    {
        const std::string out = Path("stdout.txt"), err = Path("stderr.txt");
        const std::string command = std::string("'") + ORVO_VOICE_TOOL + "' " + args + " >'" + out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
    }

    // Runs a shell command line of the test's own; its exit status.
    static int Shell(const std::string &command)
    {
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    static std::string Slurp(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    void Write(const std::string &name, const std::vector<uint8_t> &bytes) const
    {
        std::string error;
        ASSERT_TRUE(WriteFileAtomically(Path(name), bytes, &error)) << error;
    }

    // Every file in the work directory except the captured output: no temporary file may remain.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (name != "stdout.txt" && name != "stderr.txt") names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

bool Contains(const std::string &text, const std::string &fragment) { return text.find(fragment) != std::string::npos; }

TEST_F(OrvoVoiceCli, HelpListsCommandsAndExitCodes)
{
    const ToolRun run = Tool("help");
    EXPECT_EQ(run.exit_code, 0);
    for (const char *word : {"encode", "decode", "roundtrip", "info", "types", "generate", "exit status", "4 codec"})
        EXPECT_TRUE(Contains(run.out, word)) << word;
    EXPECT_EQ(Tool("").exit_code, 1);
}

TEST_F(OrvoVoiceCli, TypesListsTwelveTypesWithNumberNameAndRate)
{
    const ToolRun run = Tool("types");
    ASSERT_EQ(run.exit_code, 0) << run.err;
    for (const char *line : {"1      g711a        VOICE_G711_A         64 kbit/s", "35     ima ",
                             "39     g726-40-msb  VOICE_G726_40K_MSB   40 kbit/s", "4      g726-16 "})
        EXPECT_TRUE(Contains(run.out, line)) << line << "\n" << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 13);
}

TEST_F(OrvoVoiceCli, GenerateWritesTheSameVoiceWavEveryTime)
{
    ASSERT_EQ(Tool("generate " + Path("a.wav") + " --seconds 1.5").exit_code, 0);
    ASSERT_EQ(Tool("generate " + Path("b.wav") + " --seconds 1.5").exit_code, 0);
    std::vector<uint8_t> a, b;
    std::string error;
    ASSERT_TRUE(ReadWholeFile(Path("a.wav"), &a, &error));
    ASSERT_TRUE(ReadWholeFile(Path("b.wav"), &b, &error));
    EXPECT_EQ(a, b);
    std::vector<int16_t> samples;
    ASSERT_TRUE(ParseVoiceWav(a.data(), a.size(), &samples, &error)) << error;
    EXPECT_EQ(samples.size(), 12000u);
    EXPECT_EQ(Tool("generate " + Path("c.wav") + " --seconds 0").exit_code, 1);
    EXPECT_EQ(Files(), (std::vector<std::string>{"a.wav", "b.wav"}));
}

struct WavRefusal {
    const char *name;
    std::vector<uint8_t> file;
    const char *message;
};

TEST_F(OrvoVoiceCli, RefusedWavInputsLeaveNoOutputBehind)
{
    testing::WavSpec stereo, fast, float32;
    stereo.channels = 2;
    fast.sample_rate = 44100;
    float32.format_tag = 3;
    float32.bits = 32;
    std::vector<uint8_t> truncated = testing::BuildWav(testing::WavSpec{});
    truncated.resize(truncated.size() - 3);
    const std::vector<WavRefusal> cases = {
        {"stereo", testing::BuildWav(stereo), "found 16-bit integer PCM, 2 channels, 8000 Hz; need 16-bit integer PCM, 1 channel, 8000 Hz"},
        {"44.1 kHz", testing::BuildWav(fast), "found 16-bit integer PCM, 1 channel, 44100 Hz"},
        {"float", testing::BuildWav(float32), "found 32-bit IEEE float"},
        {"truncated", truncated, "truncated file"},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'}, "not a RIFF WAV file"},
    };
    for (const WavRefusal &c : cases) {
        SCOPED_TRACE(c.name);
        Write("in.wav", c.file);
        for (const std::string command : {"encode --type g711u", "roundtrip --type g726-32"}) {
            const ToolRun run = Tool(command + " " + Path("in.wav") + " " + Path("out.bin"));
            EXPECT_EQ(run.exit_code, 2) << run.err;
            EXPECT_TRUE(Contains(run.err, Path("in.wav") + ": ")) << run.err;
            EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
            EXPECT_EQ(Files(), std::vector<std::string>{"in.wav"});
        }
    }
}

TEST_F(OrvoVoiceCli, UsageMistakesExitWithOne)
{
    Write("in.wav", SerializeVoiceWav(std::vector<int16_t>(160)));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"encode " + Path("in.wav") + " " + Path("o"), "--type is required"},
        {"encode --type g729 " + Path("in.wav") + " " + Path("o"), "unknown codec type 'g729'"},
        {"encode --type 8 " + Path("in.wav") + " " + Path("o"), "unknown codec type '8'"},
        {"encode --type g711a --block 100 " + Path("in.wav") + " " + Path("o"),
         "g711a frames of 100 samples (length 50 words) are refused by the decoder; use blocks of 80, 160"},
        {"encode --type g726-24 --block 482 " + Path("in.wav") + " " + Path("o"), "--block must be a whole number from 1 to 481"},
        {"encode --type g711u " + Path("in.wav"), "encode takes 2 file arguments, got 1"},
        {"decode " + Path("in.wav"), "decode takes 2 file arguments, got 1"},
        {"roundtrip --type dvi4 --block 3 " + Path("in.wav") + " " + Path("o"), "carry no samples"},
        {"info --verbose x", "unknown option --verbose"},
        {"transcode", "unknown command 'transcode'"},
    };
    for (const auto &[args, message] : cases) {
        const ToolRun run = Tool(args);
        EXPECT_EQ(run.exit_code, 1) << args;
        EXPECT_TRUE(Contains(run.err, message)) << args << "\n" << run.err;
    }
    EXPECT_EQ(Files(), std::vector<std::string>{"in.wav"});
}

TEST_F(OrvoVoiceCli, FileSystemErrorsExitWithThree)
{
    Write("in.wav", SerializeVoiceWav(std::vector<int16_t>(160)));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"encode --type g711u " + Path("missing.wav") + " " + Path("o.ovf"), "cannot open " + Path("missing.wav")},
        {"info " + dir_.string(), "it is a directory"},
        {"generate " + Path("no/such/dir/x.wav"), "cannot create a file next to " + Path("no/such/dir/x.wav")},
    };
    for (const auto &[args, message] : cases) {
        const ToolRun run = Tool(args);
        EXPECT_EQ(run.exit_code, 3) << args;
        EXPECT_TRUE(Contains(run.err, message)) << run.err;
    }
    EXPECT_EQ(Files(), std::vector<std::string>{"in.wav"});
}

TEST_F(OrvoVoiceCli, DamagedFrameFilesAreRefusedWholeWithTheOffset)
{
    // A hand-made file of two G.711 frames; the refusals come before any codec call.
    OvfFile file;
    file.header = {VOICE_G711_A, 160, 2, 320};
    file.frame_bytes = 164;
    file.frames.assign(2 * 164, 0x55);
    for (size_t k = 0; k < 2; ++k) {
        file.frames[k * 164] = 0x00;
        file.frames[k * 164 + 1] = 0x01;
        file.frames[k * 164 + 2] = 80;
        file.frames[k * 164 + 3] = 0;
    }
    std::vector<uint8_t> bytes = SerializeOvf(file);
    Write("good.ovf", bytes);
    const ToolRun info = Tool("info " + Path("good.ovf"));
    ASSERT_EQ(info.exit_code, 0) << info.err;
    for (const char *line : {"codec type:  1 g711a (VOICE_G711_A, G.711 A-law)", "block:       160 samples per frame (20.0 ms)",
                             "frame:       164 bytes (length 80 words), decodes to 160 samples", "frames:      2",
                             "samples:     320 (0.040 s)", "bytes:       352 (header 24, frames 328)",
                             "bit rate:    65.6 kbit/s in frames, 64.0 kbit/s payload"})
        EXPECT_TRUE(Contains(info.out, line)) << line << "\n" << info.out;

    bytes.resize(24 + 164 + 100);
    Write("cut.ovf", bytes);
    bytes = SerializeOvf(file);
    bytes[24 + 164 + 2] = 81;
    Write("bad.ovf", bytes);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"cut.ovf", "cut.ovf: byte offset 288: the file ends inside frame 1 of 2, which starts at byte offset 188"},
        {"bad.ovf", "bad.ovf: byte offset 190: frame 1 of 2: length 81 words, need 80"},
    };
    for (const auto &[name, message] : cases) {
        for (const std::string command : {"decode", "info"}) {
            const ToolRun run = Tool(command + " " + Path(name) + (command == "decode" ? " " + Path("out.wav") : ""));
            EXPECT_EQ(run.exit_code, 2) << command << " " << name;
            EXPECT_TRUE(Contains(run.err, message)) << run.err;
        }
    }
    EXPECT_EQ(Files(), (std::vector<std::string>{"bad.ovf", "cut.ovf", "good.ovf"}));
}

TEST_F(OrvoVoiceCli, EncodeInfoDecodeAgreeWithRoundtrip)
{
    ASSERT_EQ(Tool("generate " + Path("in.wav") + " --seconds 1").exit_code, 0);
    const ToolRun encode = Tool("encode --type g726-24-msb " + Path("in.wav") + " " + Path("a.ovf"));
    ASSERT_EQ(encode.exit_code, 0) << encode.err;
    EXPECT_TRUE(Contains(encode.out, "encoded 8000 samples into 50 g726-24-msb frames of 64 bytes")) << encode.out;
    // The same type by number and by constant gives the same file.
    ASSERT_EQ(Tool("encode --type=37 --block 160 " + Path("in.wav") + " " + Path("b.ovf")).exit_code, 0);
    ASSERT_EQ(Tool("encode " + Path("in.wav") + " " + Path("c.ovf") + " --type VOICE_G726_24K_MSB").exit_code, 0);
    EXPECT_EQ(Slurp(Path("a.ovf")), Slurp(Path("b.ovf")));
    EXPECT_EQ(Slurp(Path("a.ovf")), Slurp(Path("c.ovf")));

    const ToolRun info = Tool("info " + Path("a.ovf"));
    ASSERT_EQ(info.exit_code, 0) << info.err;
    for (const char *line : {"codec type:  37 g726-24-msb", "frames:      50", "samples:     8000 (1.000 s)",
                             "bytes:       3224 (header 24, frames 3200)", "bit rate:    25.6 kbit/s in frames, 24.0"})
        EXPECT_TRUE(Contains(info.out, line)) << line << "\n" << info.out;

    ASSERT_EQ(Tool("decode " + Path("a.ovf") + " " + Path("decoded.wav")).exit_code, 0);
    const ToolRun roundtrip = Tool("roundtrip --type g726-24-msb " + Path("in.wav") + " " + Path("rt.wav"));
    ASSERT_EQ(roundtrip.exit_code, 0) << roundtrip.err;
    EXPECT_EQ(Slurp(Path("decoded.wav")), Slurp(Path("rt.wav")));
    const size_t at = roundtrip.out.find("SNR ");
    ASSERT_NE(at, std::string::npos) << roundtrip.out;
    EXPECT_GT(std::stod(roundtrip.out.substr(at + 4)), 14.0) << roundtrip.out;
    EXPECT_TRUE(Contains(roundtrip.out, "segmental SNR ")) << roundtrip.out;
    EXPECT_TRUE(roundtrip.err.empty()) << roundtrip.err;
}

TEST_F(OrvoVoiceCli, BlocksThatDropSamplesWarnAndDecodeWhatIsCarried)
{
    Write("in.wav", SerializeVoiceWav(std::vector<int16_t>(800, 1000)));
    const ToolRun run = Tool("encode --type ima --block 160 " + Path("in.wav") + " " + Path("x.ovf"));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "warning: ima frames of 160 samples (length 41 words) carry only their first 157"))
        << run.err;
    ASSERT_EQ(Tool("decode " + Path("x.ovf") + " " + Path("x.wav")).exit_code, 0);
    std::vector<uint8_t> bytes;
    std::vector<int16_t> pcm;
    std::string error;
    ASSERT_TRUE(ReadWholeFile(Path("x.wav"), &bytes, &error));
    ASSERT_TRUE(ParseVoiceWav(bytes.data(), bytes.size(), &pcm, &error)) << error;
    EXPECT_EQ(pcm.size(), 5u * 157);
}

// batch encode/decode give byte for byte the files that encode/decode give one at a time, for
// files of different lengths and (decoding) of mixed types in one run.
TEST_F(OrvoVoiceCli, BatchCodesManyFilesAsTheSingleFileCommandsDo)
{
    const char *const names[] = {"a", "b", "c"};
    const char *const seconds[] = {"1.5", "0.3", "0.77"};
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Tool("generate " + Path(std::string(names[i]) + ".wav") + " --seconds " + seconds[i]).exit_code, 0);
    fs::create_directories(dir_ / "batch");
    fs::create_directories(dir_ / "decoded");
    const ToolRun run = Tool("batch encode --type g726-40-msb " + Path("a.wav") + " " + Path("b.wav") + " " +
                             Path("c.wav") + " " + Path("batch"));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "3 files")) << run.out;
    std::string error;
    for (const char *name : names) {
        ASSERT_EQ(Tool(std::string("encode --type g726-40-msb ") + Path(std::string(name) + ".wav") + " " +
                       Path(std::string(name) + ".ovf"))
                      .exit_code,
                  0);
        std::vector<uint8_t> single, batched;
        ASSERT_TRUE(ReadWholeFile(Path(std::string(name) + ".ovf"), &single, &error));
        ASSERT_TRUE(ReadWholeFile((dir_ / "batch" / (std::string(name) + ".ovf")).string(), &batched, &error));
        EXPECT_EQ(single, batched) << name;
    }
    // Another type beside them: decoding takes each file's own type.
    ASSERT_EQ(Tool("encode --type dvi4 " + Path("b.wav") + " " + Path("d.ovf")).exit_code, 0);
    const ToolRun decode = Tool("batch decode " + (dir_ / "batch" / "a.ovf").string() + " " +
                                (dir_ / "batch" / "c.ovf").string() + " " + Path("d.ovf") + " " + Path("decoded"));
    ASSERT_EQ(decode.exit_code, 0) << decode.err;
    for (const char *name : {"a", "c", "d"}) {
        const std::string ovf = std::string(name) == "d" ? Path("d.ovf") : (dir_ / "batch" / (std::string(name) + ".ovf")).string();
        ASSERT_EQ(Tool("decode " + ovf + " " + Path(std::string(name) + "-single.wav")).exit_code, 0);
        std::vector<uint8_t> single, batched;
        ASSERT_TRUE(ReadWholeFile(Path(std::string(name) + "-single.wav"), &single, &error));
        ASSERT_TRUE(ReadWholeFile((dir_ / "decoded" / (std::string(name) + ".wav")).string(), &batched, &error));
        EXPECT_EQ(single, batched) << name;
    }
}

TEST_F(OrvoVoiceCli, BatchRefusesBadUseAndLeavesNoOutput)
{
    ASSERT_EQ(Tool("generate " + Path("a.wav") + " --seconds 0.2").exit_code, 0);
    fs::create_directories(dir_ / "out");
    EXPECT_EQ(Tool("batch").exit_code, 1);
    EXPECT_EQ(Tool("batch transcode " + Path("a.wav") + " " + Path("out")).exit_code, 1);
    EXPECT_EQ(Tool("batch encode " + Path("a.wav") + " " + Path("out")).exit_code, 1); // no --type
    EXPECT_EQ(Tool("batch encode --type g726-32 " + Path("out")).exit_code, 1);       // no input
    EXPECT_EQ(Tool("batch encode --type g726-32 --block 100 " + Path("a.wav") + " " + Path("out")).exit_code, 1);
    EXPECT_EQ(Tool("batch encode --type g726-32 " + Path("a.wav") + " " + Path("a.wav") + " " + Path("out")).exit_code, 1);
    EXPECT_EQ(Tool("batch encode --type g726-32 " + Path("a.wav") + " " + Path("missing")).exit_code, 3);
    EXPECT_EQ(Tool("batch encode --type g726-32 " + Path("a.wav") + " " + Path("none.wav") + " " + Path("out")).exit_code, 3);
    Write("bad.ovf", {1, 2, 3});
    EXPECT_EQ(Tool("batch decode " + Path("bad.ovf") + " " + Path("out")).exit_code, 2);
    ASSERT_EQ(Tool("encode --type g711u " + Path("a.wav") + " " + Path("u.ovf")).exit_code, 0);
    EXPECT_EQ(Tool("batch decode --type g726-32 " + Path("u.ovf") + " " + Path("out")).exit_code, 2);
    EXPECT_TRUE(fs::is_empty(dir_ / "out"));
}

// The file type bits of a path itself (a link is not followed), 0 if it does not exist.
mode_t TypeOf(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

// Outputs that are not regular files are written through, never replaced by a regular file.
TEST_F(OrvoVoiceCli, DeviceOutputsAreWrittenThroughAndTheirErrorsReported)
{
    ASSERT_EQ(TypeOf("/dev/full"), static_cast<mode_t>(S_IFCHR));
    ASSERT_EQ(Tool("generate " + Path("in.wav") + " --seconds 0.5").exit_code, 0);
    for (const std::string &command : std::vector<std::string>{"encode --type g711u " + Path("in.wav"),
                                                                "roundtrip --type dvi4 " + Path("in.wav"), "generate"}) {
        const ToolRun run = Tool(command + " /dev/full");
        EXPECT_EQ(run.exit_code, 3) << command;
        EXPECT_TRUE(Contains(run.err, "cannot write /dev/full: No space left on device")) << run.err;
        EXPECT_EQ(TypeOf("/dev/full"), static_cast<mode_t>(S_IFCHR)) << command;
    }
    const ToolRun null = Tool("encode --type g711a " + Path("in.wav") + " /dev/null");
    EXPECT_EQ(null.exit_code, 0) << null.err;
    EXPECT_EQ(TypeOf("/dev/null"), static_cast<mode_t>(S_IFCHR));
    EXPECT_EQ(Files(), std::vector<std::string>{"in.wav"});
}

TEST_F(OrvoVoiceCli, StandardOutputGetsTheFileAndTheReportGoesToStandardError)
{
    ASSERT_EQ(Tool("generate " + Path("in.wav") + " --seconds 0.5").exit_code, 0);
    ASSERT_EQ(Tool("encode --type g726-32 " + Path("in.wav") + " " + Path("a.ovf")).exit_code, 0);
    ASSERT_EQ(Tool("decode " + Path("a.ovf") + " " + Path("file.wav")).exit_code, 0);
    const mode_t stdout_type = TypeOf("/dev/stdout");
    // Through a pipe, as in `orvo-voice decode a.ovf /dev/stdout | aplay`.
    const int piped = Shell("{ '" + std::string(ORVO_VOICE_TOOL) + "' decode '" + Path("a.ovf") + "' /dev/stdout 2>'" +
                            Path("err.txt") + "'; echo $? >'" + Path("rc.txt") + "'; } | cat >'" + Path("piped.wav") + "'");
    ASSERT_EQ(piped, 0);
    EXPECT_EQ(Slurp(Path("rc.txt")), "0\n");
    EXPECT_EQ(Slurp(Path("piped.wav")), Slurp(Path("file.wav")));
    EXPECT_TRUE(Contains(Slurp(Path("err.txt")), "decoded 25 g726-32 frames into 4000 samples: /dev/stdout"))
        << Slurp(Path("err.txt"));
    // Redirected to a file: the file gets the WAV alone.
    const ToolRun redirected = Tool("decode " + Path("a.ovf") + " /dev/stdout");
    EXPECT_EQ(redirected.exit_code, 0) << redirected.err;
    EXPECT_EQ(redirected.out, Slurp(Path("file.wav")));
    EXPECT_TRUE(Contains(redirected.err, "decoded 25 g726-32 frames")) << redirected.err;
    EXPECT_EQ(TypeOf("/dev/stdout"), stdout_type);
}

TEST_F(OrvoVoiceCli, FifoOutputIsWrittenThrough)
{
    ASSERT_EQ(Tool("generate " + Path("in.wav") + " --seconds 0.5").exit_code, 0);
    ASSERT_EQ(Tool("encode --type ima " + Path("in.wav") + " " + Path("file.ovf")).exit_code, 0);
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    // The reader is bounded in time: a tool that never opens the FIFO fails the test, not hangs it.
    const int status = Shell("timeout 60 cat '" + Path("pipe") + "' >'" + Path("read.ovf") + "' & '" +
                             std::string(ORVO_VOICE_TOOL) + "' encode --type ima '" + Path("in.wav") + "' '" +
                             Path("pipe") + "' >/dev/null 2>'" + Path("err.txt") + "'; rc=$?; wait; exit $rc");
    EXPECT_EQ(status, 0) << Slurp(Path("err.txt"));
    EXPECT_EQ(Slurp(Path("read.ovf")), Slurp(Path("file.ovf")));
    EXPECT_EQ(TypeOf(Path("pipe")), static_cast<mode_t>(S_IFIFO));
    EXPECT_EQ(Files(), (std::vector<std::string>{"err.txt", "file.ovf", "in.wav", "pipe", "read.ovf"}));
}

// A link to a regular file stays a link: its target is replaced, whole, in the target's directory.
TEST_F(OrvoVoiceCli, SymlinkOutputReplacesItsTargetAndStaysALink)
{
    fs::create_directories(dir_ / "store");
    Write("store/take.wav", {'o', 'l', 'd'});
    fs::create_symlink("store/take.wav", dir_ / "link.wav");
    fs::create_symlink("link.wav", dir_ / "link2.wav"); // a chain of links
    const ToolRun run = Tool("generate " + Path("link2.wav") + " --seconds 0.25");
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(TypeOf(Path("link.wav")), static_cast<mode_t>(S_IFLNK));
    EXPECT_EQ(TypeOf(Path("link2.wav")), static_cast<mode_t>(S_IFLNK));
    EXPECT_EQ(TypeOf(Path("store/take.wav")), static_cast<mode_t>(S_IFREG));
    std::vector<int16_t> samples;
    std::string error;
    const std::string bytes = Slurp(Path("store/take.wav"));
    ASSERT_TRUE(ParseVoiceWav(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), &samples, &error)) << error;
    EXPECT_EQ(samples.size(), 2000u);
    EXPECT_EQ(Files(), (std::vector<std::string>{"link.wav", "link2.wav", "store"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "store"), fs::directory_iterator()), 1);
}

TEST_F(OrvoVoiceCli, AnOutputThatIsTheInputIsRefused)
{
    ASSERT_EQ(Tool("generate " + Path("in.wav") + " --seconds 0.25").exit_code, 0);
    ASSERT_EQ(Tool("encode --type g711u " + Path("in.wav") + " " + Path("in.ovf")).exit_code, 0);
    const std::string wav = Slurp(Path("in.wav")), ovf = Slurp(Path("in.ovf"));
    fs::create_symlink("in.wav", dir_ / "alias.wav");
    fs::create_hard_link(dir_ / "in.ovf", dir_ / "hard.ovf");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"encode --type g711u " + Path("in.wav") + " " + Path("in.wav"), Path("in.wav")},
        {"encode --type g711u " + Path("in.wav") + " " + dir_.string() + "/./in.wav", dir_.string() + "/./in.wav"},
        {"roundtrip --type g726-16 " + Path("in.wav") + " " + Path("alias.wav"), Path("alias.wav")},
        {"decode " + Path("in.ovf") + " " + Path("hard.ovf"), Path("hard.ovf")},
    };
    for (const auto &[args, output] : cases) {
        const ToolRun run = Tool(args);
        EXPECT_EQ(run.exit_code, 1) << args;
        EXPECT_TRUE(Contains(run.err, "the output " + output + " is the input file")) << run.err;
    }
    EXPECT_EQ(Slurp(Path("in.wav")), wav);
    EXPECT_EQ(Slurp(Path("in.ovf")), ovf);
    EXPECT_EQ(TypeOf(Path("alias.wav")), static_cast<mode_t>(S_IFLNK));
    EXPECT_EQ(Files(), (std::vector<std::string>{"alias.wav", "hard.ovf", "in.ovf", "in.wav"}));
}

} // namespace
} // namespace orvo::tool
