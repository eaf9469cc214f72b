// Arbitrary bytes as a preset file: the load's decoding and the captions it
// sets, a recall of one of the memories into the window, and a few buffers of
// synthesis, first with the running fields the memory brought, then after a
// new period is prepared. Errors the program reports are fine; crashes, memory
// faults and undefined behaviour are not.
//
// An input that begins with the byte 20 is taken as a whole file; any other
// input is the body behind a correct header, so that the fuzzer spends its
// time inside the memories.
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "app/application.h"
#include "app/message_box.h"
#include "app/preset_file.h"
#include "app/tgenerator.h"
#include "audio/audio_io.h"
#include "platform/registry.h"
#include "platform/sim_wave_out.h"
#include "synth/buffer_filler.h"
#include "synth/errors.h"

namespace {

using namespace zelvo;

struct TWorld {
    QTemporaryDir Settings;
    wave::TSimWaveOut Sim{{"Fuzz output"}};
    std::unique_ptr<TApplication> Program;
    TSynth StartSynth;
    TMemoryBank StartMemories;
};
TWorld* World = nullptr;

// A ring of two small buffers; the window's Loop box decides the rest.
class TSmallRing final : public TFillerHost {
public:
    explicit TSmallRing(TGenerator& G) : FG(G) {}
    bool Loop = true;
    bool LoopChecked() override { return Loop; }
    int32_t NumBuffers() override { return 2; }
    int32_t BufferSize() override { return 512; }
    void StopAtOnce() override { FG.AudioOut1->StopAtOnce(); }
    void ShowMessage(const std::string&) override {}

private:
    TGenerator& FG;
};

void Fill(TBufferFiller& Filler, int Buffers) {
    uint8_t Buffer[512];
    for (int I = 0; I < Buffers; ++I) {
        int32_t Size = sizeof Buffer;
        try {
            Filler.AudioOut1FillBuffer(Buffer, Size);
        } catch (const EZelvoError&) {
            // reported to the user in the program; the next fill takes the busy path
        }
    }
}

int WriteSeed(const char* Path) {
    const std::vector<uint8_t> Image = PresetFileImage(World->StartMemories);
    QFile F(QString::fromLocal8Bit(Path));
    if (!F.open(QIODevice::WriteOnly))
        return 1;
    F.write(reinterpret_cast<const char*>(Image.data()), static_cast<qint64>(Image.size()));
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* Argc, char*** Argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int QtArgc = 1;
    static char Name[] = "fuzz_preset_file";
    static char* QtArgv[] = {Name, nullptr};
    new QApplication(QtArgc, QtArgv);
    InitToolkit();
    TMessageBoxes::SetInterceptor([](TBoxKind, const QString&, const QString&) {});

    World = new TWorld;
    TRegistry::SetStorageFolder(World->Settings.path());
    wave::SetDefaultWaveOutDriver(&World->Sim);
    World->Program = std::make_unique<TApplication>(QStringList{QStringLiteral("fuzz")});
    World->Program->Start();
    World->StartSynth = World->Program->Synth;
    World->StartMemories = World->Program->Memories;

    for (int I = 1; I < *Argc; ++I) {
        const std::string_view Arg((*Argv)[I]);
        if (Arg.rfind("-write_seed=", 0) == 0)
            std::exit(WriteSeed((*Argv)[I] + 12));
    }
    return 0;
}

namespace {

int RunOne(const uint8_t* Data, size_t Size);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const int Result = RunOne(Data, Size);
    // the remove items a recall dropped, and whatever else waits for the loop
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    return Result;
}

namespace {

int RunOne(const uint8_t* Data, size_t Size) {
    TApplication& P = *World->Program;
    TGenerator& G = *P.Generator;
    // every input starts from the program as it started
    P.Synth = World->StartSynth;
    P.Memories = World->StartMemories;
    G.Filler->FillBusy = false;
    G.MemRecall(1);

    std::vector<uint8_t> File;
    if (Size > 0 && Data[0] == 20) {
        File.assign(Data, Data + Size);
    } else {
        File = PresetFileImage(P.Memories);
        File.resize(kPresetHeaderSize);
        File.insert(File.end(), Data + (Size > 0 ? 1 : 0), Data + Size);
        if (File.size() < kPresetFileSize)
            File.resize(kPresetFileSize, 0);
    }
    // what LoadSettings does with the bytes it read
    if (!ReadPresetImage(File.data(), File.size(), P.Memories))
        return 0;
    G.ShowMemoryNames();

    const uint8_t Choice = Size > 0 ? Data[Size - 1] : 0;
    G.MemRecall(1 + Choice % 4);

    // the window's own binding, as a recall during playback meets it
    P.Synth.SampleIndex = 0;
    P.Synth.PeriodSamples = 200;  // a period end inside the fills
    int32_t WindowSize = 1024;
    uint8_t Buffer[1024];
    try {
        G.Filler->AudioOut1FillBuffer(Buffer, WindowSize);
    } catch (const EZelvoError&) {
    }

    TSmallRing Ring(G);
    Ring.Loop = (Choice & 4) == 0;
    TBufferFiller Filler(P.Synth, Ring);
    Fill(Filler, 3);

    try {
        P.Synth.PrepareSweep((Choice & 8) ? "0.005" : "-0.002", '.');
    } catch (const EZelvoError&) {
        return 0;
    }
    Filler.FillBusy = false;
    Fill(Filler, 3);
    return 0;
}

} // namespace
