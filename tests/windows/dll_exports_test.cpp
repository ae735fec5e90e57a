// OrvoAudio.dll as a Windows host sees it: loaded with LoadLibrary, every export found by
// GetProcAddress under its exact name, the MSVC-decorated leftovers included, and a few calls
// made through the addresses found that way (a fresh process: the talk service is not started).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "orvoaudio/voice.h"

namespace {

// The names a host imports, whatever else the library adds.
const char *const kCodecExports[] = {"HI_VOICE_EncReset", "HI_VOICE_DecReset",
                                     "HI_VOICE_EncodeFrame", "HI_VOICE_DecodeFrame"};

#if ORVO_HAS_TALK_EXPORTS
const char *const kTalkExports[] = {"Orvo_InitialAudioTalk", "Orvo_OpenTalk", "Orvo_CloseTalk",
                                    "Orvo_GetAudioTalkData", "Orvo_InputTalkData"};
const char kMsvcFunction[] = "?fnOrvoPlay@@YAHXZ";
const char kMsvcVariable[] = "?nOrvoPlay@@3HA";
#if ORVO_POINTER_BITS == 8
const char kMsvcConstructor[] = "??0COrvoPlayTalk@@QEAA@XZ";
const char kMsvcAssignment[] = "??4COrvoPlayTalk@@QEAAAEAV0@AEBV0@@Z";
#endif
#endif

class DllExports : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module_ = LoadLibraryW(L"OrvoAudio.dll"); }

    static FARPROC Find(const char *name) { return GetProcAddress(module_, name); }

    template <typename Function> static Function FindAs(const char *name)
    {
        // Casting through void(*)() keeps g++ quiet about the unrelated function types.
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(Find(name)));
    }

    static HMODULE module_;
};

HMODULE DllExports::module_ = nullptr;

// The export names of the module definition file the DLL was linked with.
std::vector<std::string> DefinitionFileNames()
{
    std::ifstream def(ORVO_DEF_FILE);
    std::vector<std::string> names;
    std::string line;
    bool in_exports = false;
    while (std::getline(def, line)) {
        std::istringstream words(line);
        std::string first;
        if (!(words >> first))
            continue;
        if (first == "EXPORTS") {
            in_exports = true;
        } else if (in_exports) {
            names.push_back(first);
        }
    }
    return names;
}

TEST_F(DllExports, LoadsFromTheProgramDirectory)
{
    ASSERT_NE(module_, nullptr) << "LoadLibrary failed, error " << GetLastError();
}

TEST_F(DllExports, CodecFunctionsUnderPlainNames)
{
    ASSERT_NE(module_, nullptr);
    for (const char *name : kCodecExports)
        EXPECT_NE(Find(name), nullptr) << name;
    // A decorated or underscored variant is not what a host asks for.
    EXPECT_EQ(Find("_HI_VOICE_EncReset"), nullptr);
}

TEST_F(DllExports, EveryNameOfTheDefinitionFile)
{
    ASSERT_NE(module_, nullptr);
    const std::vector<std::string> names = DefinitionFileNames();
    ASSERT_FALSE(names.empty()) << "cannot read " << ORVO_DEF_FILE;
    for (const std::string &name : names)
        EXPECT_NE(Find(name.c_str()), nullptr) << name;
}

TEST_F(DllExports, CodecCallsThroughFoundAddresses)
{
    ASSERT_NE(module_, nullptr);
    using Reset = int32_t(__cdecl *)(VoiceCodecState *, int16_t);
    using Encode = int32_t(__cdecl *)(VoiceCodecState *, const int16_t *, void *, int16_t);
    using Decode = int32_t(__cdecl *)(VoiceCodecState *, void *, int16_t *, int16_t *);
    const auto enc_reset = FindAs<Reset>("HI_VOICE_EncReset");
    const auto dec_reset = FindAs<Reset>("HI_VOICE_DecReset");
    const auto encode = FindAs<Encode>("HI_VOICE_EncodeFrame");
    const auto decode = FindAs<Decode>("HI_VOICE_DecodeFrame");
    ASSERT_TRUE(enc_reset && dec_reset && encode && decode);

    // The argument checks answer through every address; the coding itself is covered by the
    // codec tests linked against this DLL (voice_dll_tests).
    const int16_t samples[4] = {};
    unsigned char frame[16] = {};
    int16_t decoded[HI_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    EXPECT_EQ(enc_reset(nullptr, VOICE_G711_U), HI_ERR_VOICE_NULL_STATE);
    EXPECT_EQ(dec_reset(nullptr, VOICE_G711_U), HI_ERR_VOICE_NULL_STATE);
    EXPECT_EQ(encode(nullptr, samples, frame, 160), HI_ERR_VOICE_NULL_STATE);
    EXPECT_EQ(decode(nullptr, frame, decoded, &count), HI_ERR_VOICE_NULL_STATE);
}

#if ORVO_HAS_TALK_EXPORTS
TEST_F(DllExports, TalkFunctionsBeforeTheServiceStarts)
{
    ASSERT_NE(module_, nullptr);
    for (const char *name : kTalkExports)
        EXPECT_NE(Find(name), nullptr) << name;
    using NoArguments = int32_t(__cdecl *)();
    using Get = int32_t(__cdecl *)(unsigned char *);
    using Input = int32_t(__cdecl *)(const unsigned char *, int32_t);
    const auto open_talk = FindAs<NoArguments>("Orvo_OpenTalk");
    const auto close_talk = FindAs<NoArguments>("Orvo_CloseTalk");
    const auto get = FindAs<Get>("Orvo_GetAudioTalkData");
    const auto input = FindAs<Input>("Orvo_InputTalkData");
    ASSERT_TRUE(open_talk && close_talk && get && input);
    EXPECT_EQ(open_talk(), -1);
    EXPECT_EQ(close_talk(), -1);
    unsigned char packet[500] = {};
    EXPECT_EQ(get(packet), 0);
    EXPECT_EQ(input(packet, 166), 0);
}

TEST_F(DllExports, MsvcDecoratedLeftovers)
{
    ASSERT_NE(module_, nullptr);
    using Function = int(__cdecl *)();
    const auto function = FindAs<Function>(kMsvcFunction);
    ASSERT_NE(function, nullptr);
    EXPECT_EQ(function(), 42);

    // The decorated variable is the same int as the plain one, and reads 0 after load.
    const auto *variable = reinterpret_cast<const int *>(Find(kMsvcVariable));
    ASSERT_NE(variable, nullptr);
    EXPECT_EQ(*variable, 0);
    EXPECT_EQ(reinterpret_cast<FARPROC>(const_cast<int *>(variable)), Find("nOrvoPlay"));

#if ORVO_POINTER_BITS == 8
    // MSVC x64 member functions: `this` in RCX, the result in RAX. A constructor returns `this`,
    // and code built by MSVC uses that result as the object, so it must come back exactly.
    using Constructor = void *(*)(void *);
    using Assignment = void *(*)(void *, const void *);
    const auto construct = FindAs<Constructor>(kMsvcConstructor);
    const auto assign = FindAs<Assignment>(kMsvcAssignment);
    ASSERT_NE(construct, nullptr);
    ASSERT_NE(assign, nullptr);
    alignas(16) unsigned char first[16] = {}, second[16] = {};
    EXPECT_EQ(construct(first), first);
    EXPECT_EQ(construct(second), second);
    EXPECT_EQ(assign(first, second), first);
#endif
}
#endif

} // namespace
