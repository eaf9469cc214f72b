// The ALSA wave-output device, run against file PCMs over ALSA's null device
// (alsa-test.conf), so that it runs without a sound card and every byte
// "played" can be read back.
#include "platform/alsa_wave_out.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zelvo::wave {
namespace {

std::filesystem::path TestDir;

class TAlsaTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string Templ = (std::filesystem::temp_directory_path() / "zelvo-alsa-XXXXXX").string();
        ASSERT_NE(mkdtemp(Templ.data()), nullptr);
        TestDir = Templ;
        // Before the first ALSA call: the configuration is read once.
        setenv("ZELVO_ALSA_TEST_DIR", Templ.c_str(), 1);
        setenv("ALSA_CONFIG_PATH", ZELVO_ALSA_TEST_CONF, 1);
        setenv("ZELVO_ALSA_TEST_PLUGIN", ZELVO_ALSA_TEST_PLUGIN, 1);
    }
    void TearDown() override {
        std::error_code Ec;
        std::filesystem::remove_all(TestDir, Ec);
    }
};

struct TNote {
    Notice N;
    HWaveOut H;
    WaveHdr* Hdr;
};

class TSink final : public INoticeSink {
public:
    void PostNotice(Notice N, HWaveOut H, WaveHdr* Hdr) override {
        std::lock_guard L(M);
        Log.push_back({N, H, Hdr});
        Cv.notify_all();
    }
    // The limit only keeps a hang from blocking the run.
    bool WaitFor(size_t Count) {
        std::unique_lock L(M);
        return Cv.wait_for(L, std::chrono::seconds(20), [&] { return Log.size() >= Count; });
    }
    std::vector<TNote> Notes() {
        std::lock_guard L(M);
        return Log;
    }
    size_t Size() {
        std::lock_guard L(M);
        return Log.size();
    }

private:
    std::mutex M;
    std::condition_variable Cv;
    std::vector<TNote> Log;
};

WaveFormatEx Format(uint16_t Channels, uint32_t Rate, uint16_t Bits) {
    WaveFormatEx F;
    F.nChannels = Channels;
    F.nSamplesPerSec = Rate;
    F.wBitsPerSample = Bits;
    F.nBlockAlign = static_cast<uint16_t>(Bits / 8 * Channels);
    F.nAvgBytesPerSec = Rate * F.nBlockAlign;
    return F;
}

// Different in every buffer and at every byte, so that a lost, repeated or
// reordered piece shows.
std::vector<uint8_t> Pattern(size_t Bytes, uint32_t Seed) {
    std::vector<uint8_t> V(Bytes);
    uint32_t X = Seed * 2654435761u + 12345u;
    for (auto& B : V) {
        X = X * 1103515245u + 12345u;
        B = static_cast<uint8_t>(X >> 16);
    }
    return V;
}

std::vector<uint8_t> ReadFile(const std::string& Name) {
    std::ifstream In(TestDir / Name, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// Size and first difference; a dump of two long byte vectors says nothing.
::testing::AssertionResult SameBytes(const std::vector<uint8_t>& Got, const std::vector<uint8_t>& Want) {
    const auto [G, W] = std::mismatch(Got.begin(), Got.end(), Want.begin(), Want.end());
    if (G == Got.end() && W == Want.end()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Got.size() << " bytes captured, " << Want.size()
                                         << " written; first difference at byte " << (G - Got.begin());
}

// A ring of buffers and their headers, as the audio component keeps them.
struct TRing {
    TRing(size_t Count, size_t Bytes) : Data(Count, std::vector<uint8_t>(Bytes)), Hdrs(Count) {
        for (size_t I = 0; I < Count; ++I) {
            Hdrs[I].lpData = Data[I].data();
            Hdrs[I].dwBufferLength = static_cast<uint32_t>(Bytes);
        }
    }
    // Fills slot I with the next piece of the stream and remembers it.
    WaveHdr* Fill(size_t I) {
        const auto P = Pattern(Hdrs[I].dwBufferLength, Pieces++);
        std::copy(P.begin(), P.end(), Data[I].begin());  // in place: the header points there
        Stream.insert(Stream.end(), P.begin(), P.end());
        Hdrs[I].dwFlags = WHDR_PREPARED;
        return &Hdrs[I];
    }
    std::vector<std::vector<uint8_t>> Data;
    std::vector<WaveHdr> Hdrs;
    std::vector<uint8_t> Stream;  // everything written, in order
    uint32_t Pieces = 0;
};

class AlsaWaveOut : public ::testing::Test {
protected:
    uint32_t IdOf(const std::string& AlsaName) {
        const uint32_t N = Driver.GetNumDevs();
        for (uint32_t Id = 0; Id < N; ++Id) {
            std::string Name;
            if (Driver.GetAlsaName(Id, Name) == MMSYSERR_NOERROR && Name == AlsaName) return Id;
        }
        ADD_FAILURE() << AlsaName << " is not listed";
        return WAVE_MAPPER - 1;
    }

    HWaveOut OpenOn(const std::string& AlsaName, const WaveFormatEx& F = Format(2, 22050, 16)) {
        HWaveOut H = kNoWaveOut;
        EXPECT_EQ(Driver.Open(&H, IdOf(AlsaName), F, &Sink), MMSYSERR_NOERROR);
        EXPECT_TRUE(Sink.WaitFor(1));
        return H;
    }

    void PrepareAll(HWaveOut H, TRing& R) {
        for (WaveHdr& Hdr : R.Hdrs) ASSERT_EQ(Driver.PrepareHeader(H, &Hdr), MMSYSERR_NOERROR);
    }

    void UnprepareAndClose(HWaveOut H, TRing& R) {
        for (WaveHdr& Hdr : R.Hdrs) EXPECT_EQ(Driver.UnprepareHeader(H, &Hdr), MMSYSERR_NOERROR);
        EXPECT_EQ(Driver.Close(H), MMSYSERR_NOERROR);
        ASSERT_FALSE(Sink.Notes().empty());
        EXPECT_EQ(Sink.Notes().back().N, Notice::Close);
    }

    // The Done notices after Open, as header pointers.
    std::vector<WaveHdr*> DoneHeaders() {
        std::vector<WaveHdr*> V;
        for (const TNote& N : Sink.Notes())
            if (N.N == Notice::Done) V.push_back(N.Hdr);
        return V;
    }

    TSink Sink;  // outlives the driver
    TAlsaWaveOut Driver{TAlsaWaveOutOptions{.Paced = false}};
};

// --- the device list ---

TEST(AlsaDeviceList, OffersPlaybackDevicesAsAPersonReadsThem) {
    struct TCase {
        const char* What;
        std::vector<TAlsaHint> Hints;
        std::vector<TAlsaDevice> Expected;
    };
    const std::string Analog = "HDA Intel PCH, ALC892 Analog";
    const std::vector<TCase> Cases = {
        {"no sound card", {{"null", "Discard all samples (playback) or generate zero samples (capture)", ""}}, {}},
        {"a desktop with PulseAudio, one analog and one HDMI card",
         {
             {"null", "Discard all samples", ""},
             {"pulse", "PulseAudio Sound Server", ""},
             {"default", "Default ALSA Output (currently PulseAudio Sound Server)", ""},
             {"mytone", "My tone box\nfrom .asoundrc", ""},
             {"dmix", "Direct sample mixing device", ""},
             {"hw:CARD=PCH,DEV=0", Analog + "\nDirect hardware device without any conversions", ""},
             {"plughw:CARD=PCH,DEV=0", Analog + "\nHardware device with all software conversions", ""},
             {"sysdefault:CARD=PCH", Analog + "\nDefault Audio Device", ""},
             {"front:CARD=PCH,DEV=0", Analog + "\nFront output / input", ""},
             {"surround51:CARD=PCH,DEV=0", Analog + "\n5.1 Surround output to Front, Center, Rear and Subwoofer speakers", ""},
             {"iec958:CARD=PCH,DEV=0", Analog + "\nIEC958 (S/PDIF) Digital Audio Output", ""},
             {"dmix:CARD=PCH,DEV=0", Analog + "\nDirect sample mixing device", ""},
             {"dsnoop:CARD=PCH,DEV=0", Analog + "\nDirect sample snooping device", ""},
             {"hdmi:CARD=HDMI,DEV=0", "HDA Intel HDMI, HDMI 0\nHDMI Audio Output", ""},
             {"plughw:CARD=HDMI,DEV=3", "HDA Intel HDMI, HDMI 0\nHardware device with all software conversions", ""},
             {"plughw:CARD=HDMI,DEV=7", "HDA Intel HDMI, HDMI 1\nHardware device with all software conversions", ""},
             {"usbstream:CARD=PCH", "HDA Intel PCH\nUSB Stream Output", ""},
             {"sysdefault:CARD=Mic", "USB Microphone\nDefault Audio Device", "Input"},
             {"plughw:CARD=Mic,DEV=0", "USB Microphone\nHardware device with all software conversions", "Input"},
         },
         {
             {"Default ALSA Output (currently PulseAudio Sound Server)", "default"},
             {"PulseAudio Sound Server", "pulse"},
             {"My tone box", "mytone"},
             {Analog, "sysdefault:CARD=PCH"},
             {"HDA Intel HDMI, HDMI 0", "plughw:CARD=HDMI,DEV=3"},
         }},
        {"names that collide take the second line, else the ALSA name",
         {
             {"usb1", "USB Audio\nFront jack", ""},
             {"usb2", "USB Audio\nRear jack", ""},
             {"box1", "Box", ""},
             {"box2", "Box", ""},
             {"twin1", "Twin\nSame", ""},
             {"twin2", "Twin\nSame", ""},
             {"nodesc", "", ""},
         },
         {
             {"USB Audio (Front jack)", "usb1"},
             {"USB Audio (Rear jack)", "usb2"},
             {"Box (box1)", "box1"},
             {"Box (box2)", "box2"},
             {"Twin (twin1)", "twin1"},
             {"Twin (twin2)", "twin2"},
             {"nodesc", "nodesc"},
         }},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.What);
        const auto Got = SelectAlsaPlaybackDevices(C.Hints);
        ASSERT_EQ(Got.size(), C.Expected.size());
        for (size_t I = 0; I < Got.size(); ++I) {
            EXPECT_EQ(Got[I].Name, C.Expected[I].Name) << I;
            EXPECT_EQ(Got[I].AlsaName, C.Expected[I].AlsaName) << I;
        }
    }
}

TEST_F(AlsaWaveOut, ListsTheConfiguredDevicesWithDefaultFirst) {
    const uint32_t N = Driver.GetNumDevs();
    std::vector<std::pair<std::string, std::string>> Seen;
    for (uint32_t Id = 0; Id < N; ++Id) {
        std::string Name, Alsa;
        ASSERT_EQ(Driver.GetDevCaps(Id, Name), MMSYSERR_NOERROR);
        ASSERT_EQ(Driver.GetAlsaName(Id, Alsa), MMSYSERR_NOERROR);
        Seen.emplace_back(Alsa, Name);
    }
    ASSERT_FALSE(Seen.empty());
    EXPECT_EQ(Seen[0], std::make_pair(std::string("default"), std::string("Zelvo test default")));
    auto Has = [&](const std::string& Alsa, const std::string& Name) {
        return std::count(Seen.begin(), Seen.end(), std::make_pair(Alsa, Name)) == 1;
    };
    EXPECT_TRUE(Has("zelvo_capture", "Zelvo capture (first)"));
    EXPECT_TRUE(Has("zelvo_twin", "Zelvo capture (second)"));
    EXPECT_TRUE(Has("zelvo_full", "Zelvo full disk"));
    EXPECT_TRUE(Has("zelvo_missing", "Zelvo missing card"));
    for (const auto& [Alsa, Name] : Seen) {
        EXPECT_NE(Alsa, "null");
        EXPECT_NE(Alsa, "zelvo_hidden");
    }
    std::string Name;
    EXPECT_EQ(Driver.GetDevCaps(N, Name), MMSYSERR_BADDEVICEID);
    // A second listing keeps the ids.
    ASSERT_EQ(Driver.GetNumDevs(), N);
    for (uint32_t Id = 0; Id < N; ++Id) {
        ASSERT_EQ(Driver.GetAlsaName(Id, Name), MMSYSERR_NOERROR);
        EXPECT_EQ(Name, Seen[Id].first);
    }
}

// --- playing ---

struct TPlayCase {
    const char* What;
    uint16_t Channels;
    uint32_t Rate;
    uint16_t Bits;
    uint32_t FramesPerBuffer;
    bool Paced;
};

void PrintTo(const TPlayCase& C, std::ostream* Os) { *Os << C.What; }

class AlsaPlayback : public AlsaWaveOut, public ::testing::WithParamInterface<TPlayCase> {};

// The ring is refilled and rewritten on every Done, as the audio component does.
TEST_P(AlsaPlayback, EveryByteWrittenIsPlayedInOrderAndEachBufferComesBackOnce) {
    const TPlayCase& C = GetParam();
    Driver.SetPaced(C.Paced);
    const WaveFormatEx F = Format(C.Channels, C.Rate, C.Bits);
    const HWaveOut H = OpenOn("zelvo_capture", F);
    ASSERT_NE(H, kNoWaveOut);
    bool Soft = false;
    ASSERT_EQ(Driver.IsSoftwareClocked(H, Soft), MMSYSERR_NOERROR);
    EXPECT_TRUE(Soft);

    constexpr size_t Slots = 4, Total = 14;
    TRing R(Slots, size_t{C.FramesPerBuffer} * F.nBlockAlign);
    PrepareAll(H, R);
    std::vector<WaveHdr*> Written;
    for (size_t I = 0; I < Slots; ++I) {
        WaveHdr* Hdr = R.Fill(I);
        ASSERT_EQ(Driver.Write(H, Hdr), MMSYSERR_NOERROR);
        Written.push_back(Hdr);
    }
    for (size_t Done = 0; Done < Total; ++Done) {
        ASSERT_TRUE(Sink.WaitFor(2 + Done)) << "Done " << Done << " never came";
        const TNote N = Sink.Notes()[1 + Done];
        ASSERT_EQ(N.N, Notice::Done);
        ASSERT_EQ(N.H, H);
        ASSERT_EQ(N.Hdr, Written[Done]);
        EXPECT_EQ(N.Hdr->dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED), WHDR_DONE | WHDR_PREPARED);
        if (Written.size() < Total) {
            WaveHdr* Hdr = R.Fill(Done % Slots);
            ASSERT_EQ(Hdr, N.Hdr);
            ASSERT_EQ(Driver.Write(H, Hdr), MMSYSERR_NOERROR);
            Written.push_back(Hdr);
        }
    }
    uint32_t Position = 0;
    ASSERT_EQ(Driver.GetPosition(H, Position), MMSYSERR_NOERROR);
    EXPECT_EQ(Position, Total * C.FramesPerBuffer);
    UnprepareAndClose(H, R);
    EXPECT_EQ(Sink.Size(), 2 + Total);
    EXPECT_TRUE(SameBytes(ReadFile("capture.raw"), R.Stream));
}

INSTANTIATE_TEST_SUITE_P(Formats, AlsaPlayback,
                         ::testing::Values(TPlayCase{"Stereo16", 2, 22050, 16, 1000, false},
                                           TPlayCase{"Mono16", 1, 44100, 16, 777, false},
                                           TPlayCase{"Mono8", 1, 22050, 8, 3000, false},
                                           TPlayCase{"Stereo24", 2, 48000, 24, 500, false},
                                           TPlayCase{"Stereo16Paced", 2, 48000, 16, 480, true},
                                           TPlayCase{"LongerThanTheAlsaRingPaced", 2, 96000, 16, 12000, true}),
                         [](const auto& I) { return std::string(I.param.What); });

// The PCM's type does not give it away; what it does when written to does.
TEST_F(AlsaWaveOut, ADeviceThatKeepsNoTimeIsFoundOutAndThenPlayedByTheClock) {
    Driver.SetPaced(true);
    const HWaveOut H = OpenOn("zelvo_plugged", Format(2, 48000, 16));
    bool Soft = true;
    ASSERT_EQ(Driver.IsSoftwareClocked(H, Soft), MMSYSERR_NOERROR);
    EXPECT_FALSE(Soft);
    TRing R(2, 480 * 4);
    PrepareAll(H, R);
    ASSERT_EQ(Driver.Write(H, R.Fill(0)), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Write(H, R.Fill(1)), MMSYSERR_NOERROR);
    constexpr size_t Total = 8;
    for (size_t Done = 0; Done < Total; ++Done) {
        ASSERT_TRUE(Sink.WaitFor(2 + Done));
        ASSERT_EQ(Sink.Notes()[1 + Done].Hdr, &R.Hdrs[Done % 2]);
        if (Done + 2 < Total) {
            ASSERT_EQ(Driver.Write(H, R.Fill(Done % 2)), MMSYSERR_NOERROR);
        }
    }
    ASSERT_EQ(Driver.IsSoftwareClocked(H, Soft), MMSYSERR_NOERROR);
    EXPECT_TRUE(Soft);
    uint32_t Position = 0;
    ASSERT_EQ(Driver.GetPosition(H, Position), MMSYSERR_NOERROR);
    EXPECT_EQ(Position, Total * 480);
    UnprepareAndClose(H, R);
    EXPECT_TRUE(SameBytes(ReadFile("capture.raw"), R.Stream));
}

TEST_F(AlsaWaveOut, WaveMapperPlaysOnDefault) {
    HWaveOut H = kNoWaveOut;
    ASSERT_EQ(Driver.Open(&H, WAVE_MAPPER, Format(2, 22050, 16), &Sink), MMSYSERR_NOERROR);
    TRing R(2, 4000);
    PrepareAll(H, R);
    ASSERT_EQ(Driver.Write(H, R.Fill(0)), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Write(H, R.Fill(1)), MMSYSERR_NOERROR);
    ASSERT_TRUE(Sink.WaitFor(3));
    UnprepareAndClose(H, R);
    EXPECT_TRUE(SameBytes(ReadFile("default.raw"), R.Stream));
}

TEST_F(AlsaWaveOut, PausedBeforeTheFirstWriteItHoldsEveryBufferUntilRestart) {
    const HWaveOut H = OpenOn("zelvo_capture");
    TRing R(3, 4000);
    PrepareAll(H, R);
    ASSERT_EQ(Driver.Pause(H), MMSYSERR_NOERROR);
    for (size_t I = 0; I < 3; ++I) ASSERT_EQ(Driver.Write(H, R.Fill(I)), MMSYSERR_NOERROR);
    // Answered once the worker has gone round with the writes in hand; even
    // unpaced it would have played them by then.
    ASSERT_EQ(Driver.Pause(H), MMSYSERR_NOERROR);
    EXPECT_EQ(Sink.Size(), 1u);
    uint32_t Position = 1;
    ASSERT_EQ(Driver.GetPosition(H, Position), MMSYSERR_NOERROR);
    EXPECT_EQ(Position, 0u);

    ASSERT_EQ(Driver.Restart(H), MMSYSERR_NOERROR);
    ASSERT_TRUE(Sink.WaitFor(4));
    EXPECT_EQ(DoneHeaders(), (std::vector<WaveHdr*>{&R.Hdrs[0], &R.Hdrs[1], &R.Hdrs[2]}));
    UnprepareAndClose(H, R);
    EXPECT_TRUE(SameBytes(ReadFile("capture.raw"), R.Stream));
}

TEST_F(AlsaWaveOut, PauseMidPlayStopsThePlayedPositionAndRestartGoesOnWithoutLoss) {
    Driver.SetPaced(true);
    const HWaveOut H = OpenOn("zelvo_capture", Format(2, 48000, 16));
    constexpr uint32_t Frames = 12000;  // 250 ms each
    TRing R(4, Frames * 4);
    PrepareAll(H, R);
    for (size_t I = 0; I < 4; ++I) ASSERT_EQ(Driver.Write(H, R.Fill(I)), MMSYSERR_NOERROR);
    ASSERT_TRUE(Sink.WaitFor(2));
    ASSERT_EQ(Driver.Pause(H), MMSYSERR_NOERROR);
    const size_t Notes = Sink.Size();
    uint32_t Before = 0, After = 0;
    ASSERT_EQ(Driver.GetPosition(H, Before), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // longer than a buffer
    ASSERT_EQ(Driver.GetPosition(H, After), MMSYSERR_NOERROR);
    EXPECT_EQ(After, Before);
    EXPECT_EQ(Sink.Size(), Notes);
    EXPECT_LT(Before, 4 * Frames);

    ASSERT_EQ(Driver.Restart(H), MMSYSERR_NOERROR);
    ASSERT_TRUE(Sink.WaitFor(5));
    EXPECT_EQ(DoneHeaders(), (std::vector<WaveHdr*>{&R.Hdrs[0], &R.Hdrs[1], &R.Hdrs[2], &R.Hdrs[3]}));
    ASSERT_EQ(Driver.GetPosition(H, After), MMSYSERR_NOERROR);
    EXPECT_EQ(After, 4 * Frames);
    UnprepareAndClose(H, R);
    EXPECT_TRUE(SameBytes(ReadFile("capture.raw"), R.Stream));
}

TEST_F(AlsaWaveOut, ResetHandsBackEveryQueuedBufferInOrderBeforeItReturns) {
    for (const bool PausedFirst : {true, false}) {
        SCOPED_TRACE(PausedFirst ? "paused" : "playing");
        TSink Local;
        TAlsaWaveOut Paced{TAlsaWaveOutOptions{.Paced = true}};
        HWaveOut H = kNoWaveOut;
        ASSERT_EQ(Paced.GetNumDevs() > 0, true);
        std::string Alsa;
        uint32_t Id = 0;
        while (Paced.GetAlsaName(Id, Alsa) == MMSYSERR_NOERROR && Alsa != "zelvo_capture") ++Id;
        ASSERT_EQ(Paced.Open(&H, Id, Format(2, 48000, 16), &Local), MMSYSERR_NOERROR);
        TRing R(4, 4800 * 4);  // 100 ms each
        for (WaveHdr& Hdr : R.Hdrs) ASSERT_EQ(Paced.PrepareHeader(H, &Hdr), MMSYSERR_NOERROR);
        if (PausedFirst) {
            ASSERT_EQ(Paced.Pause(H), MMSYSERR_NOERROR);
        }
        for (size_t I = 0; I < 4; ++I) ASSERT_EQ(Paced.Write(H, R.Fill(I)), MMSYSERR_NOERROR);

        ASSERT_EQ(Paced.Reset(H), MMSYSERR_NOERROR);
        const auto Notes = Local.Notes();
        ASSERT_EQ(Notes.size(), 5u);
        EXPECT_EQ(Notes[0].N, Notice::Open);
        for (size_t I = 0; I < 4; ++I) {
            EXPECT_EQ(Notes[1 + I].N, Notice::Done);
            EXPECT_EQ(Notes[1 + I].Hdr, &R.Hdrs[I]);
            EXPECT_EQ(R.Hdrs[I].dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
        }
        uint32_t Position = 0;
        ASSERT_EQ(Paced.GetPosition(H, Position), MMSYSERR_NOERROR);
        EXPECT_LT(Position, 4u * 4800u);

        // Still usable afterwards.
        if (PausedFirst) {
            ASSERT_EQ(Paced.Restart(H), MMSYSERR_NOERROR);
        }
        R.Hdrs[0].dwBufferLength = 480 * 4;
        ASSERT_EQ(Paced.Write(H, R.Fill(0)), MMSYSERR_NOERROR);
        ASSERT_TRUE(Local.WaitFor(6));
        EXPECT_EQ(Local.Notes()[5].Hdr, &R.Hdrs[0]);
        uint32_t Later = 0;
        ASSERT_EQ(Paced.GetPosition(H, Later), MMSYSERR_NOERROR);
        EXPECT_EQ(Later, Position + 480);

        for (WaveHdr& Hdr : R.Hdrs) EXPECT_EQ(Paced.UnprepareHeader(H, &Hdr), MMSYSERR_NOERROR);
        ASSERT_EQ(Paced.Close(H), MMSYSERR_NOERROR);
        EXPECT_EQ(Local.Notes().back().N, Notice::Close);
        EXPECT_EQ(Local.Size(), 7u);
    }
}

TEST_F(AlsaWaveOut, CloseAndUnprepareAreRefusedWhileAWrittenBufferIsOut) {
    const HWaveOut H = OpenOn("zelvo_capture");
    TRing R(1, 4000);
    PrepareAll(H, R);
    ASSERT_EQ(Driver.Pause(H), MMSYSERR_NOERROR);  // keeps the buffer out for certain
    WaveHdr* Hdr = R.Fill(0);
    ASSERT_EQ(Driver.Write(H, Hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(Driver.Close(H), WAVERR_STILLPLAYING);
    EXPECT_EQ(Driver.UnprepareHeader(H, Hdr), WAVERR_STILLPLAYING);
    EXPECT_EQ(Driver.Write(H, Hdr), WAVERR_STILLPLAYING);
    EXPECT_EQ(Hdr->dwFlags & WHDR_INQUEUE, WHDR_INQUEUE);

    ASSERT_EQ(Driver.Restart(H), MMSYSERR_NOERROR);
    ASSERT_TRUE(Sink.WaitFor(2));
    UnprepareAndClose(H, R);
    const auto Notes = Sink.Notes();
    ASSERT_EQ(Notes.size(), 3u);
    EXPECT_EQ(Notes[0].N, Notice::Open);
    EXPECT_EQ(Notes[1].N, Notice::Done);
    EXPECT_EQ(Notes[2].N, Notice::Close);
    EXPECT_TRUE(SameBytes(ReadFile("capture.raw"), R.Stream));

    // The handle is spent: nothing reaches another playback through it.
    uint32_t Position;
    EXPECT_EQ(Driver.PrepareHeader(H, Hdr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Driver.Write(H, Hdr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Driver.Pause(H), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Driver.Restart(H), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Driver.Reset(H), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Driver.Close(H), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Driver.GetPosition(H, Position), MMSYSERR_INVALHANDLE);
    const HWaveOut Next = OpenOn("zelvo_capture");
    EXPECT_NE(Next, H);
    EXPECT_EQ(Driver.Close(Next), MMSYSERR_NOERROR);
}

TEST_F(AlsaWaveOut, HeadersMustBePreparedAndValid) {
    const HWaveOut H = OpenOn("zelvo_capture");
    TRing R(1, 4000);
    EXPECT_EQ(Driver.Write(H, &R.Hdrs[0]), WAVERR_UNPREPARED);
    EXPECT_EQ(Driver.PrepareHeader(H, nullptr), MMSYSERR_INVALPARAM);
    EXPECT_EQ(Driver.Write(H, nullptr), MMSYSERR_INVALPARAM);
    WaveHdr NoData;
    NoData.dwBufferLength = 16;
    EXPECT_EQ(Driver.PrepareHeader(H, &NoData), MMSYSERR_INVALPARAM);
    EXPECT_EQ(Driver.Close(H), MMSYSERR_NOERROR);
    EXPECT_EQ(Sink.Size(), 2u);
}

TEST_F(AlsaWaveOut, FailingOpensGiveTheirCodeAndNoNotice) {
    const uint32_t N = Driver.GetNumDevs();
    const uint32_t Capture = IdOf("zelvo_capture");
    WaveFormatEx NotPcm = Format(2, 22050, 16);
    NotPcm.wFormatTag = 3;
    WaveFormatEx BadAlign = Format(2, 22050, 16);
    BadAlign.nBlockAlign = 2;
    struct TCase {
        const char* What;
        uint32_t Id;
        WaveFormatEx F;
        MMRESULT Expected;
    };
    const std::vector<TCase> Cases = {
        {"id past the list", N, Format(2, 22050, 16), MMSYSERR_BADDEVICEID},
        {"id far past the list", N + 100, Format(2, 22050, 16), MMSYSERR_BADDEVICEID},
        {"not PCM", Capture, NotPcm, WAVERR_BADFORMAT},
        {"12 bits", Capture, Format(2, 22050, 12), WAVERR_BADFORMAT},
        {"no channels", Capture, Format(0, 22050, 16), WAVERR_BADFORMAT},
        {"block align off", Capture, BadAlign, WAVERR_BADFORMAT},
        {"no rate", Capture, Format(2, 0, 16), WAVERR_BADFORMAT},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.What);
        HWaveOut H = 77;
        EXPECT_EQ(Driver.Open(&H, C.Id, C.F, &Sink), C.Expected);
        EXPECT_EQ(H, kNoWaveOut);
    }
    // ALSA itself refuses: its text comes back.
    HWaveOut H = 77;
    const MMRESULT R = Driver.Open(&H, IdOf("zelvo_missing"), Format(2, 22050, 16), &Sink);
    EXPECT_GT(R, ALSAERR_BASE);
    EXPECT_EQ(H, kNoWaveOut);
    EXPECT_NE(Driver.GetErrorText(R), StandardErrorText(R));
    EXPECT_FALSE(Driver.GetErrorText(R).empty());
    EXPECT_EQ(Driver.Open(nullptr, Capture, Format(2, 22050, 16), &Sink), MMSYSERR_INVALPARAM);
    EXPECT_EQ(Sink.Size(), 0u);
}

TEST_F(AlsaWaveOut, ADeviceThatFailsWhilePlayingHandsEverythingBackAndReportsWhy) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    const HWaveOut H = OpenOn("zelvo_full");
    TRing R(4, 4096 * 4);
    PrepareAll(H, R);
    ASSERT_EQ(Driver.Pause(H), MMSYSERR_NOERROR);  // all four in before it fails
    for (size_t I = 0; I < 4; ++I) ASSERT_EQ(Driver.Write(H, R.Fill(I)), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Restart(H), MMSYSERR_NOERROR);
    ASSERT_TRUE(Sink.WaitFor(5));
    EXPECT_EQ(DoneHeaders(), (std::vector<WaveHdr*>{&R.Hdrs[0], &R.Hdrs[1], &R.Hdrs[2], &R.Hdrs[3]}));

    MMRESULT Error = MMSYSERR_NOERROR;
    ASSERT_EQ(Driver.GetDeviceError(H, Error), MMSYSERR_NOERROR);
    EXPECT_EQ(Error, AlsaErrorCode(-EIO));
    EXPECT_EQ(Driver.GetErrorText(Error), std::strerror(EIO));
    EXPECT_EQ(Driver.Write(H, R.Fill(0)), Error);
    EXPECT_EQ(Driver.Reset(H), MMSYSERR_NOERROR);
    UnprepareAndClose(H, R);
    EXPECT_EQ(Sink.Size(), 6u);
}

TEST_F(AlsaWaveOut, ErrorTexts) {
    for (const MMRESULT C : {MMSYSERR_NOERROR, MMSYSERR_BADDEVICEID, MMSYSERR_INVALHANDLE, WAVERR_BADFORMAT,
                             WAVERR_STILLPLAYING, WAVERR_UNPREPARED})
        EXPECT_EQ(Driver.GetErrorText(C), StandardErrorText(C));
    EXPECT_EQ(Driver.GetErrorText(AlsaErrorCode(-EBUSY)), std::strerror(EBUSY));
    std::vector<std::string> Own;
    for (const MMRESULT C : {ALSAWAVERR_DEVICEFAILED, ALSAWAVERR_UNSTABLE, ALSAWAVERR_STALLED, ALSAWAVERR_NOTHREAD}) {
        Own.push_back(Driver.GetErrorText(C));
        EXPECT_NE(Own.back(), StandardErrorText(C));
    }
    std::sort(Own.begin(), Own.end());
    EXPECT_EQ(std::unique(Own.begin(), Own.end()), Own.end());
}

TEST_F(AlsaWaveOut, AGapBetweenWritesCountsAsAnUnderrunButTheFinalRunOutDoesNot) {
    Driver.SetPaced(true);
    const HWaveOut H = OpenOn("zelvo_capture", Format(2, 48000, 16));
    TRing R(1, 480 * 4);
    PrepareAll(H, R);
    ASSERT_EQ(Driver.Write(H, R.Fill(0)), MMSYSERR_NOERROR);
    ASSERT_TRUE(Sink.WaitFor(2));
    TAlsaWaveOutCounters C;
    ASSERT_EQ(Driver.GetCounters(H, C), MMSYSERR_NOERROR);
    EXPECT_EQ(C.Underruns, 0u);
    // Played out, then more: the listener heard a gap.
    ASSERT_EQ(Driver.Write(H, R.Fill(0)), MMSYSERR_NOERROR);
    ASSERT_TRUE(Sink.WaitFor(3));
    ASSERT_EQ(Driver.GetCounters(H, C), MMSYSERR_NOERROR);
    EXPECT_EQ(C.Underruns, 1u);
    EXPECT_EQ(C.DriverUnderruns, 0u);
    UnprepareAndClose(H, R);
    EXPECT_EQ(Driver.Counters().Underruns, 1u);
    EXPECT_TRUE(SameBytes(ReadFile("capture.raw"), R.Stream));
}

TEST_F(AlsaWaveOut, ADriverDestroyedWhilePlayingStopsSilently) {
    TSink Local;
    TRing R(2, 48000 * 4);  // outlives the driver, as the device's buffers must
    {
        TAlsaWaveOut Paced{TAlsaWaveOutOptions{.Paced = true}};
        ASSERT_GT(Paced.GetNumDevs(), 0u);
        HWaveOut H = kNoWaveOut;
        ASSERT_EQ(Paced.Open(&H, WAVE_MAPPER, Format(2, 48000, 16), &Local), MMSYSERR_NOERROR);
        for (WaveHdr& Hdr : R.Hdrs) ASSERT_EQ(Paced.PrepareHeader(H, &Hdr), MMSYSERR_NOERROR);
        ASSERT_EQ(Paced.Write(H, R.Fill(0)), MMSYSERR_NOERROR);
        ASSERT_EQ(Paced.Write(H, R.Fill(1)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(Local.Size(), 1u);
}

// --- a device that keeps time, as a sound card does (alsa_tick_device.cpp) ---

class AlsaTickDevice : public AlsaWaveOut {
protected:
    static void Trigger(const std::string& What) { std::ofstream(TestDir / ("tick.raw." + What)); }
    void TearDown() override {
        for (const char* What : {"unplug", "pollerr", "freeze", "xrun", "noprepare"})
            std::filesystem::remove(TestDir / ("tick.raw." + std::string(What)));
    }
    std::vector<uint8_t> Heard() { return ReadFile("tick.raw"); }
    // Device on a driver of its own (with options of its own) and its own sink.
    static HWaveOut OpenOwn(TAlsaWaveOut& Own, TSink& OwnSink, const std::string& Device) {
        uint32_t Id = 0;
        Own.GetNumDevs();
        for (std::string Alsa; Own.GetAlsaName(Id, Alsa) == MMSYSERR_NOERROR && Alsa != Device;) ++Id;
        HWaveOut H = kNoWaveOut;
        EXPECT_EQ(Own.Open(&H, Id, Format(2, 48000, 16), &OwnSink), MMSYSERR_NOERROR) << Device;
        return H;
    }
};

TEST_F(AlsaTickDevice, PlaysInRealTimeAndEveryByteIsHeardInOrder) {
    // Below the ALSA ring the device has to be started; above it fills the ring.
    for (const uint32_t Frames : {480u, 2400u}) {
        SCOPED_TRACE(Frames);
        TSink Local;
        TAlsaWaveOut Tick;
        const HWaveOut H = OpenOwn(Tick, Local, "zelvo_tick");
        ASSERT_NE(H, kNoWaveOut);
        bool Soft = true;
        ASSERT_EQ(Tick.IsSoftwareClocked(H, Soft), MMSYSERR_NOERROR);
        EXPECT_FALSE(Soft);
        constexpr size_t Slots = 4, Total = 12;
        TRing R(Slots, Frames * 4);
        for (WaveHdr& Hdr : R.Hdrs) ASSERT_EQ(Tick.PrepareHeader(H, &Hdr), MMSYSERR_NOERROR);
        for (size_t I = 0; I < Slots; ++I) ASSERT_EQ(Tick.Write(H, R.Fill(I)), MMSYSERR_NOERROR);
        for (size_t Done = 0; Done < Total; ++Done) {
            ASSERT_TRUE(Local.WaitFor(2 + Done));
            ASSERT_EQ(Local.Notes()[1 + Done].Hdr, &R.Hdrs[Done % Slots]);
            if (Done + Slots < Total) {
                ASSERT_EQ(Tick.Write(H, R.Fill(Done % Slots)), MMSYSERR_NOERROR);
            }
        }
        uint32_t Position = 0;
        ASSERT_EQ(Tick.GetPosition(H, Position), MMSYSERR_NOERROR);
        EXPECT_EQ(Position, Total * Frames);
        for (WaveHdr& Hdr : R.Hdrs) EXPECT_EQ(Tick.UnprepareHeader(H, &Hdr), MMSYSERR_NOERROR);
        ASSERT_EQ(Tick.Close(H), MMSYSERR_NOERROR);
        EXPECT_EQ(Local.Notes().back().N, Notice::Close);
        EXPECT_TRUE(SameBytes(Heard(), R.Stream));
    }
}

// With a pause of its own the device holds its place; without one the driver
// drops and writes again from the played position.
TEST_F(AlsaTickDevice, PauseHoldsThePlaceAndRestartGoesOnWithNothingLostOrTwice) {
    for (const char* Device : {"zelvo_tick", "zelvo_tick_nopause"}) {
        SCOPED_TRACE(Device);
        TSink Local;
        TAlsaWaveOut Tick;
        const HWaveOut H = OpenOwn(Tick, Local, Device);
        ASSERT_NE(H, kNoWaveOut);
        constexpr uint32_t Frames = 4800;
        TRing R(4, Frames * 4);
        for (WaveHdr& Hdr : R.Hdrs) ASSERT_EQ(Tick.PrepareHeader(H, &Hdr), MMSYSERR_NOERROR);
        for (size_t I = 0; I < 4; ++I) ASSERT_EQ(Tick.Write(H, R.Fill(I)), MMSYSERR_NOERROR);
        ASSERT_TRUE(Local.WaitFor(2));
        ASSERT_EQ(Tick.Pause(H), MMSYSERR_NOERROR);
        const size_t Notes = Local.Size();
        uint32_t Before = 0, After = 0;
        ASSERT_EQ(Tick.GetPosition(H, Before), MMSYSERR_NOERROR);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ASSERT_EQ(Tick.GetPosition(H, After), MMSYSERR_NOERROR);
        EXPECT_EQ(After, Before);
        EXPECT_EQ(Local.Size(), Notes);
        ASSERT_EQ(Tick.Restart(H), MMSYSERR_NOERROR);
        ASSERT_TRUE(Local.WaitFor(5));
        ASSERT_EQ(Tick.GetPosition(H, After), MMSYSERR_NOERROR);
        EXPECT_EQ(After, 4 * Frames);
        for (WaveHdr& Hdr : R.Hdrs) EXPECT_EQ(Tick.UnprepareHeader(H, &Hdr), MMSYSERR_NOERROR);
        ASSERT_EQ(Tick.Close(H), MMSYSERR_NOERROR);
        EXPECT_TRUE(SameBytes(Heard(), R.Stream));
    }
}

TEST_F(AlsaTickDevice, ResetStopsWhereThePositionSays) {
    const HWaveOut H = OpenOn("zelvo_tick", Format(2, 48000, 16));
    constexpr uint32_t Frames = 4800;
    TRing R(4, Frames * 4);
    PrepareAll(H, R);
    for (size_t I = 0; I < 4; ++I) ASSERT_EQ(Driver.Write(H, R.Fill(I)), MMSYSERR_NOERROR);
    ASSERT_TRUE(Sink.WaitFor(2));
    ASSERT_EQ(Driver.Reset(H), MMSYSERR_NOERROR);
    EXPECT_EQ(DoneHeaders(), (std::vector<WaveHdr*>{&R.Hdrs[0], &R.Hdrs[1], &R.Hdrs[2], &R.Hdrs[3]}));
    uint32_t Position = 0;
    ASSERT_EQ(Driver.GetPosition(H, Position), MMSYSERR_NOERROR);
    EXPECT_GE(Position, Frames);
    EXPECT_LT(Position, 4 * Frames);
    UnprepareAndClose(H, R);
    R.Stream.resize(size_t{Position} * 4);
    EXPECT_TRUE(SameBytes(Heard(), R.Stream));
}

// A process starved of CPU time writes late again and again, each time after
// the device has run dry: far more underruns than the recovery limit allows in
// a second, each one counted and recovered, and playback goes on.
TEST_F(AlsaTickDevice, AWriterLateAgainAndAgainIsNotGivenUp) {
    TSink Local;
    TAlsaWaveOut Tick{TAlsaWaveOutOptions{.MaxRecoveriesPerSecond = 4}};
    const HWaveOut H = OpenOwn(Tick, Local, "zelvo_tick");
    ASSERT_NE(H, kNoWaveOut);
    constexpr uint32_t Frames = 480;  // 10 ms
    constexpr size_t Late = 16;
    TRing R(2, Frames * 4);
    for (WaveHdr& Hdr : R.Hdrs) ASSERT_EQ(Tick.PrepareHeader(H, &Hdr), MMSYSERR_NOERROR);
    ASSERT_EQ(Tick.Write(H, R.Fill(0)), MMSYSERR_NOERROR);
    for (size_t Done = 0; Done < Late; ++Done) {
        // one buffer out at a time: it has played out when it comes back
        ASSERT_TRUE(Local.WaitFor(2 + Done));
        MMRESULT Error = MMSYSERR_NOERROR;
        ASSERT_EQ(Tick.GetDeviceError(H, Error), MMSYSERR_NOERROR);
        ASSERT_EQ(Error, MMSYSERR_NOERROR) << "given up after " << Done << " late writes: " << Tick.GetErrorText(Error);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        ASSERT_EQ(Tick.Write(H, R.Fill((Done + 1) % 2)), MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(Local.WaitFor(2 + Late));
    TAlsaWaveOutCounters C;
    ASSERT_EQ(Tick.GetCounters(H, C), MMSYSERR_NOERROR);
    EXPECT_EQ(C.Underruns, Late);
    EXPECT_EQ(C.DriverUnderruns, 0u);
    uint32_t Position = 0;
    ASSERT_EQ(Tick.GetPosition(H, Position), MMSYSERR_NOERROR);
    EXPECT_EQ(Position, (Late + 1) * Frames);
    for (WaveHdr& Hdr : R.Hdrs) EXPECT_EQ(Tick.UnprepareHeader(H, &Hdr), MMSYSERR_NOERROR);
    ASSERT_EQ(Tick.Close(H), MMSYSERR_NOERROR);
    EXPECT_TRUE(SameBytes(Heard(), R.Stream));
}

TEST_F(AlsaTickDevice, AnApplicationWritingLateIsCountedAsAnUnderrun) {
    const HWaveOut H = OpenOn("zelvo_tick", Format(2, 48000, 16));
    TRing R(1, 480 * 4);
    PrepareAll(H, R);
    ASSERT_EQ(Driver.Write(H, R.Fill(0)), MMSYSERR_NOERROR);
    ASSERT_TRUE(Sink.WaitFor(2));
    ASSERT_EQ(Driver.Write(H, R.Fill(0)), MMSYSERR_NOERROR);
    ASSERT_TRUE(Sink.WaitFor(3));
    TAlsaWaveOutCounters C;
    ASSERT_EQ(Driver.GetCounters(H, C), MMSYSERR_NOERROR);
    EXPECT_EQ(C.Underruns, 1u);
    EXPECT_EQ(C.DriverUnderruns, 0u);
    UnprepareAndClose(H, R);
    EXPECT_TRUE(SameBytes(Heard(), R.Stream));
}

// However the device goes, the playback ends: every buffer comes back, the
// reason is there to read, and nothing waits for ever. A device that recovers
// from its underruns only to fail again at once, with sound written to it in
// time, is given up; one whose recovery fails is given up with the reason.
TEST_F(AlsaTickDevice, ADeviceThatGoesAwayEndsThePlaybackWithItsReason) {
    struct TCase {
        // Created in this order while the device plays: a condition made of
        // several must be whole before its last file appears, since the device
        // reacts to the first one it sees (an underrun alone it recovers from).
        std::vector<const char*> Triggers;
        MMRESULT Expected;
    };
    const std::vector<TCase> Cases = {
        {{"unplug"}, ALSAWAVERR_UNSTABLE},
        {{"xrun"}, ALSAWAVERR_UNSTABLE},
        {{"noprepare", "xrun"}, AlsaErrorCode(-EIO)},
        {{"pollerr"}, ALSAWAVERR_DEVICEFAILED},
        {{"freeze"}, ALSAWAVERR_STALLED},
    };
    for (const TCase& C : Cases) {
        std::string Name;
        for (const char* T : C.Triggers) Name += (Name.empty() ? "" : "+") + std::string(T);
        SCOPED_TRACE(Name);
        TSink Local;
        TAlsaWaveOut Tick{TAlsaWaveOutOptions{.StallTimeoutMs = 300}};
        const HWaveOut H = OpenOwn(Tick, Local, "zelvo_tick");
        ASSERT_NE(H, kNoWaveOut);
        TRing R(4, 48000 * 4);  // a second each
        for (WaveHdr& Hdr : R.Hdrs) ASSERT_EQ(Tick.PrepareHeader(H, &Hdr), MMSYSERR_NOERROR);
        for (size_t I = 0; I < 4; ++I) ASSERT_EQ(Tick.Write(H, R.Fill(I)), MMSYSERR_NOERROR);
        for (const char* T : C.Triggers) Trigger(T);
        ASSERT_TRUE(Local.WaitFor(5));
        std::vector<WaveHdr*> Done;
        for (const TNote& N : Local.Notes())
            if (N.N == Notice::Done) Done.push_back(N.Hdr);
        EXPECT_EQ(Done, (std::vector<WaveHdr*>{&R.Hdrs[0], &R.Hdrs[1], &R.Hdrs[2], &R.Hdrs[3]}));
        MMRESULT Error = MMSYSERR_NOERROR;
        ASSERT_EQ(Tick.GetDeviceError(H, Error), MMSYSERR_NOERROR);
        EXPECT_EQ(Error, C.Expected) << Tick.GetErrorText(Error);
        EXPECT_EQ(Tick.Write(H, R.Fill(0)), Error);
        for (WaveHdr& Hdr : R.Hdrs) EXPECT_EQ(Tick.UnprepareHeader(H, &Hdr), MMSYSERR_NOERROR);
        ASSERT_EQ(Tick.Close(H), MMSYSERR_NOERROR);
        EXPECT_EQ(Local.Size(), 6u);
        TearDown();
    }
}

} // namespace
} // namespace zelvo::wave

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new zelvo::wave::TAlsaTestEnvironment);
    return RUN_ALL_TESTS();
}
