#include "platform/sim_wave_out.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <utility>

namespace zelvo::wave {
namespace {

// Shared by every instance, so that no two simulated devices of a run ever
// carry the same handle.
std::atomic<HWaveOut> NextHandle{1};

bool FormatSupported(const WaveFormatEx& F) {
    if (F.wFormatTag != WAVE_FORMAT_PCM || F.nChannels < 1 || F.nChannels > 2)
        return false;
    if (F.wBitsPerSample != 8 && F.wBitsPerSample != 16 && F.wBitsPerSample != 24 &&
        F.wBitsPerSample != 32)
        return false;
    if (F.nBlockAlign != F.nChannels * F.wBitsPerSample / 8)
        return false;
    if (F.nSamplesPerSec < 1 || F.nSamplesPerSec > 768000)
        return false;
    return F.nAvgBytesPerSec == F.nSamplesPerSec * F.nBlockAlign;
}

} // namespace

TSimWaveOut::TSimWaveOut(std::vector<std::string> DeviceNames) : FNames(std::move(DeviceNames)) {}

TSimWaveOut::~TSimWaveOut() { StopPacing(); }

void TSimWaveOut::SetDevices(std::vector<std::string> Names) {
    std::lock_guard L(FLock);
    FNames = std::move(Names);
}

void TSimWaveOut::AdvanceFrames(uint64_t Frames) {
    std::lock_guard L(FLock);
    for (auto& [H, D] : FDevices)
        if (!FPlaybacks[D.Record].Paused)
            PlayFrames(H, D, Frames);
}

void TSimWaveOut::AdvanceMs(uint64_t Ms) { AdvanceMicroseconds(Ms * 1000); }

void TSimWaveOut::AdvanceMicroseconds(uint64_t Us) {
    std::lock_guard L(FLock);
    AdvanceLocked(Us);
}

void TSimWaveOut::AdvanceLocked(uint64_t Us) {
    for (auto& [H, D] : FDevices) {
        if (FPlaybacks[D.Record].Paused)
            continue;
        const uint64_t Total = Us * FPlaybacks[D.Record].Format.nSamplesPerSec + D.FrameRemainder;
        D.FrameRemainder = Total % 1000000;
        PlayFrames(H, D, Total / 1000000);
    }
}

void TSimWaveOut::PlayFrames(HWaveOut H, TDevice& D, uint64_t Frames) {
    TPlayback& P = FPlaybacks[D.Record];
    const uint64_t Align = P.Format.nBlockAlign;
    uint64_t Budget = Frames * Align;
    while (!D.Queue.empty()) {
        WaveHdr* Hdr = D.Queue.front();
        const uint32_t Left = Hdr->dwBufferLength - D.HeadOffset;
        if (Left == 0) {
            FinishFront(H, D);
            continue;
        }
        if (Budget == 0)
            break;
        const auto Take = static_cast<uint32_t>(std::min<uint64_t>(Left, Budget));
        if (FRecording)
            P.Played.insert(P.Played.end(), Hdr->lpData + D.HeadOffset,
                            Hdr->lpData + D.HeadOffset + Take);
        D.HeadOffset += Take;
        P.PositionBytes += Take;
        Budget -= Take;
    }
    if (D.Started && Budget >= Align)
        P.StarvedFrames += Budget / Align;
}

void TSimWaveOut::FinishFront(HWaveOut H, TDevice& D) {
    TPlayback& P = FPlaybacks[D.Record];
    WaveHdr* Hdr = D.Queue.front();
    D.Queue.pop_front();
    D.HeadOffset = 0;
    Hdr->dwFlags = (Hdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    --P.Queued;
    ++P.Done;
    Post(D, Notice::Done, H, Hdr);
}

void TSimWaveOut::Post(TDevice& D, Notice N, HWaveOut H, WaveHdr* Hdr) {
    ++FNotices;
    if (D.Sink)
        D.Sink->PostNotice(N, H, Hdr);
}

MMRESULT TSimWaveOut::Trip(TFault& F) {
    if (F.Code == MMSYSERR_NOERROR || F.Remaining == 0)
        return MMSYSERR_NOERROR;
    if (F.Remaining > 1) {
        --F.Remaining;
        return MMSYSERR_NOERROR;
    }
    const MMRESULT Code = F.Code;
    if (!F.Sticky)
        F = TFault{};
    return Code;
}

void TSimWaveOut::FailOpen(MMRESULT Code, uint32_t Nth, bool Sticky) {
    std::lock_guard L(FLock);
    FOpenFault = {Code, Nth, Sticky};
}

void TSimWaveOut::FailPrepare(MMRESULT Code, uint32_t Nth, bool Sticky) {
    std::lock_guard L(FLock);
    FPrepareFault = {Code, Nth, Sticky};
}

void TSimWaveOut::FailWrite(MMRESULT Code, uint32_t Nth, bool Sticky) {
    std::lock_guard L(FLock);
    FWriteFault = {Code, Nth, Sticky};
}

void TSimWaveOut::ClearFaults() {
    std::lock_guard L(FLock);
    FOpenFault = FPrepareFault = FWriteFault = TFault{};
}

void TSimWaveOut::FailDevice(HWaveOut H, MMRESULT Code) {
    std::lock_guard L(FLock);
    TDevice* D = Find(H);
    if (!D)
        return;
    D->Failed = Code;
    while (!D->Queue.empty())
        FinishFront(H, *D);
}

void TSimWaveOut::SetErrorText(MMRESULT Code, std::string Text) {
    std::lock_guard L(FLock);
    FTexts[Code] = std::move(Text);
}

void TSimWaveOut::SetRecording(bool On) {
    std::lock_guard L(FLock);
    FRecording = On;
}

void TSimWaveOut::StartPacing(uint32_t TickMicroseconds) {
    std::lock_guard L(FLock);
    if (FPacer.joinable())
        return;
    FPacerStop = false;
    FPacer = std::thread([this, TickMicroseconds] { PacerLoop(TickMicroseconds); });
}

void TSimWaveOut::StopPacing() {
    {
        std::lock_guard L(FLock);
        FPacerStop = true;
    }
    FPacerWake.notify_all();
    if (FPacer.joinable())
        FPacer.join();
}

void TSimWaveOut::PacerLoop(uint32_t TickMicroseconds) {
    using Clock = std::chrono::steady_clock;
    auto Prev = Clock::now();
    std::unique_lock L(FLock);
    while (!FPacerStop) {
        FPacerWake.wait_for(L, std::chrono::microseconds(TickMicroseconds));
        const auto Passed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - Prev);
        Prev += Passed;
        AdvanceLocked(static_cast<uint64_t>(Passed.count()));
    }
}

std::vector<TSimWaveOut::TPlayback> TSimWaveOut::Playbacks() const {
    std::lock_guard L(FLock);
    return FPlaybacks;
}

TSimWaveOut::TPlayback TSimWaveOut::Last() const {
    std::lock_guard L(FLock);
    return FPlaybacks.empty() ? TPlayback{} : FPlaybacks.back();
}

uint32_t TSimWaveOut::OpenDevices() const {
    std::lock_guard L(FLock);
    return static_cast<uint32_t>(FDevices.size());
}

uint64_t TSimWaveOut::NoticesPosted() const {
    std::lock_guard L(FLock);
    return FNotices;
}

TSimWaveOut::TDevice* TSimWaveOut::Find(HWaveOut H) {
    auto It = FDevices.find(H);
    return It == FDevices.end() ? nullptr : &It->second;
}

uint32_t TSimWaveOut::GetNumDevs() {
    std::lock_guard L(FLock);
    return static_cast<uint32_t>(FNames.size());
}

MMRESULT TSimWaveOut::GetDevCaps(uint32_t Id, std::string& Name) {
    std::lock_guard L(FLock);
    if (Id >= FNames.size())
        return MMSYSERR_BADDEVICEID;
    Name = FNames[Id];
    return MMSYSERR_NOERROR;
}

MMRESULT TSimWaveOut::Open(HWaveOut* Handle, uint32_t Id, const WaveFormatEx& Format,
                           INoticeSink* Sink) {
    std::lock_guard L(FLock);
    if (MMRESULT R = Trip(FOpenFault))
        return R;
    if (!Handle)
        return MMSYSERR_INVALPARAM;
    if (FNames.empty())
        return MMSYSERR_NODRIVER;
    if (Id != WAVE_MAPPER && Id >= FNames.size())
        return MMSYSERR_BADDEVICEID;
    if (!FormatSupported(Format))
        return WAVERR_BADFORMAT;

    const HWaveOut H = NextHandle++;
    TPlayback P;
    P.Handle = H;
    P.DeviceId = Id;
    P.Format = Format;
    P.Open = true;
    FPlaybacks.push_back(std::move(P));
    TDevice& D = FDevices[H];
    D.Record = FPlaybacks.size() - 1;
    D.Sink = Sink;
    *Handle = H;
    Post(D, Notice::Open, H, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT TSimWaveOut::PrepareHeader(HWaveOut H, WaveHdr* Hdr) {
    std::lock_guard L(FLock);
    TDevice* D = Find(H);
    if (!D)
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT R = Trip(FPrepareFault))
        return R;
    if (!Hdr || !Hdr->lpData)
        return MMSYSERR_INVALPARAM;
    Hdr->dwFlags |= WHDR_PREPARED;
    if (std::find(D->Prepared.begin(), D->Prepared.end(), Hdr) == D->Prepared.end())
        D->Prepared.push_back(Hdr);
    return MMSYSERR_NOERROR;
}

MMRESULT TSimWaveOut::UnprepareHeader(HWaveOut H, WaveHdr* Hdr) {
    std::lock_guard L(FLock);
    TDevice* D = Find(H);
    if (!D)
        return MMSYSERR_INVALHANDLE;
    if (!Hdr)
        return MMSYSERR_INVALPARAM;
    if (std::find(D->Queue.begin(), D->Queue.end(), Hdr) != D->Queue.end()) {
        ++FPlaybacks[D->Record].RefusedUnprepares;
        return WAVERR_STILLPLAYING;
    }
    Hdr->dwFlags &= ~WHDR_PREPARED;
    std::erase(D->Prepared, Hdr);
    return MMSYSERR_NOERROR;
}

MMRESULT TSimWaveOut::Write(HWaveOut H, WaveHdr* Hdr) {
    std::lock_guard L(FLock);
    TDevice* D = Find(H);
    if (!D)
        return MMSYSERR_INVALHANDLE;
    if (D->Failed)
        return D->Failed;
    if (MMRESULT R = Trip(FWriteFault))
        return R;
    if (!Hdr)
        return MMSYSERR_INVALPARAM;
    if (!(Hdr->dwFlags & WHDR_PREPARED) ||
        std::find(D->Prepared.begin(), D->Prepared.end(), Hdr) == D->Prepared.end())
        return WAVERR_UNPREPARED;
    if (std::find(D->Queue.begin(), D->Queue.end(), Hdr) != D->Queue.end())
        return WAVERR_STILLPLAYING;
    Hdr->dwFlags = (Hdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    D->Queue.push_back(Hdr);
    D->Started = true;
    TPlayback& P = FPlaybacks[D->Record];
    P.Written.push_back(Hdr->lpData);
    ++P.Queued;
    return MMSYSERR_NOERROR;
}

MMRESULT TSimWaveOut::Pause(HWaveOut H) {
    std::lock_guard L(FLock);
    TDevice* D = Find(H);
    if (!D)
        return MMSYSERR_INVALHANDLE;
    TPlayback& P = FPlaybacks[D->Record];
    P.Paused = true;
    ++P.Pauses;
    return MMSYSERR_NOERROR;
}

MMRESULT TSimWaveOut::Restart(HWaveOut H) {
    std::lock_guard L(FLock);
    TDevice* D = Find(H);
    if (!D)
        return MMSYSERR_INVALHANDLE;
    TPlayback& P = FPlaybacks[D->Record];
    P.Paused = false;
    ++P.Restarts;
    return MMSYSERR_NOERROR;
}

MMRESULT TSimWaveOut::Reset(HWaveOut H) {
    std::lock_guard L(FLock);
    TDevice* D = Find(H);
    if (!D)
        return MMSYSERR_INVALHANDLE;
    while (!D->Queue.empty())
        FinishFront(H, *D);
    TPlayback& P = FPlaybacks[D->Record];
    ++P.Resets;
    P.PositionBytes = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT TSimWaveOut::Close(HWaveOut H) {
    std::lock_guard L(FLock);
    TDevice* D = Find(H);
    if (!D)
        return MMSYSERR_INVALHANDLE;
    TPlayback& P = FPlaybacks[D->Record];
    if (!D->Queue.empty()) {
        ++P.RefusedCloses;
        return WAVERR_STILLPLAYING;
    }
    Post(*D, Notice::Close, H, nullptr);
    P.Open = false;
    FDevices.erase(H);
    return MMSYSERR_NOERROR;
}

MMRESULT TSimWaveOut::GetPosition(HWaveOut H, uint32_t& Samples) {
    std::lock_guard L(FLock);
    TDevice* D = Find(H);
    if (!D)
        return MMSYSERR_INVALHANDLE;
    const TPlayback& P = FPlaybacks[D->Record];
    Samples = static_cast<uint32_t>(P.PositionBytes / P.Format.nBlockAlign);
    return MMSYSERR_NOERROR;
}

MMRESULT TSimWaveOut::GetDeviceError(HWaveOut H, MMRESULT& Error) {
    std::lock_guard L(FLock);
    TDevice* D = Find(H);
    if (!D)
        return MMSYSERR_INVALHANDLE;
    Error = D->Failed;
    return MMSYSERR_NOERROR;
}

std::string TSimWaveOut::GetErrorText(MMRESULT Code) {
    std::lock_guard L(FLock);
    auto It = FTexts.find(Code);
    return It != FTexts.end() ? It->second : StandardErrorText(Code);
}

} // namespace zelvo::wave
