#include "audio/audio_io.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>

#include "audio/audio_memory.h"
#include "platform/error_sink.h"

namespace zelvo {

namespace mem = audio_memory;
using namespace wave;

namespace {

const QEvent::Type kNoticeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class TNoticeEvent final : public QEvent {
public:
    TNoticeEvent(Notice N, HWaveOut Handle) : QEvent(kNoticeEvent), N(N), Handle(Handle) {}
    const Notice N;
    const HWaveOut Handle;
};

} // namespace

// Receives the device's notices from whatever thread the driver runs and hands
// them to the component on the thread that owns this object (the GUI thread).
// Qt drops the events still queued for it when it is destroyed.
class TCallBackWinOut final : public QObject, public INoticeSink {
public:
    explicit TCallBackWinOut(TAudioOut* Owner) : FOwner(Owner) {}

    void PostNotice(Notice N, HWaveOut Handle, WaveHdr*) override {
        // Built before the release below, which is what publishes it.
        auto* Event = new TNoticeEvent(N, Handle);
        FPosted.fetch_add(1, std::memory_order_release);
        QCoreApplication::postEvent(this, Event);
    }

    // Notices that still arrive afterwards are dropped.
    void Detach() {
        FOwner = nullptr;
        AudioComponent = nullptr;
    }

    TAudioOut** AudioComponent = nullptr;

protected:
    void customEvent(QEvent* E) override {
        // Qt's queue already orders the driver's thread before this one; the
        // explicit edge, after the event was built, lets race checkers, which
        // cannot see inside Qt, agree.
        (void)FPosted.load(std::memory_order_acquire);
        if (E->type() != kNoticeEvent)
            return;
        auto* Ev = static_cast<TNoticeEvent*>(E);
        TAudioOut* Target = AudioComponent ? *AudioComponent : nullptr;
        if (Target && Target == FOwner)
            Target->HandleNotice(Ev->N, Ev->Handle);
    }

private:
    TAudioOut* FOwner;
    std::atomic<uint64_t> FPosted{0};
};

std::string WaveOutErrorText(IWaveOutDriver& Driver, MMRESULT Code) {
    std::string Text = Driver.GetErrorText(Code);
    if (auto Zero = Text.find('\0'); Zero != std::string::npos)
        Text.resize(Zero);
    return Text.empty() ? StandardErrorText(Code) : Text;
}

// ---------------------------------------------------------------- TAudioIO

TAudioIO::TAudioIO() {
    FNumBuffers = 4;
    FRequestedBufferSize = 8192;
    Active = false;
    FPaused = false;
    FWaveDevice = WAVE_MAPPER;
    ErrorMessage.clear();

    FWaveFmtEx.wFormatTag = WAVE_FORMAT_PCM;
    FWaveFmtEx.wBitsPerSample = 16;
    FWaveFmtEx.nChannels = 1;
    FWaveFmtEx.nSamplesPerSec = 22050;
    FWaveFmtEx.cbSize = 0;
    UpdateFormat();

    WaveBuffer.fill(nullptr);
    // A failure leaves its text in ErrorMessage; Start refuses an incomplete ring.
    AllocateHeaders();
    AllocateBuffers();
}

TAudioIO::~TAudioIO() {
    FreeBuffers();
    FreeHeaders();
}

void TAudioIO::StopAtOnce() {
    Active = false;
    ContinueProcessing = false;
}

void TAudioIO::StopGracefully() { ContinueProcessing = false; }

void TAudioIO::SetBufferSize(int32_t Value) {
    FRequestedBufferSize = std::max(Value, 512);
    UpdateFormat();
    if (BuffersHeld()) {
        FReallocPending = true;
        return;
    }
    FreeBuffers();
    AllocateBuffers();
}

void TAudioIO::SetNumBuffers(int32_t Value) { FNumBuffers = std::clamp(Value, 2, 4); }

int32_t TAudioIO::FrameRate() const { return static_cast<int32_t>(FWaveFmtEx.nSamplesPerSec); }

void TAudioIO::SetFrameRate(int32_t Value) {
    FWaveFmtEx.nSamplesPerSec = static_cast<uint32_t>(Value);
    UpdateFormat();
}

bool TAudioIO::Stereo() const { return FWaveFmtEx.nChannels == 2; }

void TAudioIO::SetStereo(bool Value) {
    FWaveFmtEx.nChannels = Value ? 2 : 1;
    UpdateFormat();
}

uint16_t TAudioIO::Quantization() const { return FWaveFmtEx.wBitsPerSample; }

void TAudioIO::SetQuantization(uint16_t Value) {
    FWaveFmtEx.wBitsPerSample = std::clamp<uint16_t>(Value, 8, 24);
    UpdateFormat();
}

void TAudioIO::UpdateFormat() {
    FWaveFmtEx.nBlockAlign =
        static_cast<uint16_t>((FWaveFmtEx.wBitsPerSample / 8) * FWaveFmtEx.nChannels);
    FWaveFmtEx.nAvgBytesPerSec = FWaveFmtEx.nSamplesPerSec * FWaveFmtEx.nBlockAlign;
    FBufferSize = FRequestedBufferSize - FRequestedBufferSize % FWaveFmtEx.nBlockAlign;
}

bool TAudioIO::InitWaveHeaders() {
    UpdateFormat();
    for (int I = 0; I < FNumBuffers; ++I) {
        WaveHdr[I]->lpData = WaveBuffer[I];
        WaveHdr[I]->dwBufferLength = static_cast<uint32_t>(FBufferSize);
        WaveHdr[I]->dwBytesRecorded = 0;
        WaveHdr[I]->dwUser = 0;
        WaveHdr[I]->dwFlags = 0;
        WaveHdr[I]->dwLoops = 0;
        WaveHdr[I]->lpNext = nullptr;
        WaveHdr[I]->reserved = 0;
    }
    return true;
}

bool TAudioIO::AllocateHeaders() {
    for (int I = 0; I < kSlots; ++I) {
        hWaveHeader[I] = mem::Alloc(sizeof(wave::WaveHdr), true);
        if (!hWaveHeader[I]) {
            FreeHeaders();
            ErrorMessage = FHeaderFailure = "Error allocating wave header memory";
            return false;
        }
        uint8_t* P = mem::Lock(hWaveHeader[I]);
        if (!P) {
            FreeHeaders();
            ErrorMessage = FHeaderFailure = "Could not lock header memory for recording";
            return false;
        }
        WaveHdr[I] = new (P) wave::WaveHdr{};
    }
    FHeaderFailure.clear();
    return true;
}

void TAudioIO::FreeHeaders() {
    for (int I = 0; I < kSlots; ++I) {
        if (!hWaveHeader[I])
            continue;
        mem::Unlock(hWaveHeader[I]);
        mem::Free(hWaveHeader[I]);
        hWaveHeader[I] = nullptr;
        WaveHdr[I] = nullptr;
    }
}

bool TAudioIO::AllocateBuffers() {
    for (int I = 0; I < FNumBuffers; ++I) {
        hWaveBuffer[I] = mem::Alloc(static_cast<size_t>(FBufferSize), false);
        if (!hWaveBuffer[I]) {
            FreeBuffers();
            ErrorMessage = FBufferFailure = "Error allocating wave buffer memory";
            return false;
        }
        WaveBuffer[I] = mem::Lock(hWaveBuffer[I]);
        if (!WaveBuffer[I]) {
            FreeBuffers();
            ErrorMessage = FBufferFailure = "Error Locking wave buffer memory";
            return false;
        }
        FBufferBytes[I] = FBufferSize;
        if (WaveHdr[I])
            WaveHdr[I]->lpData = WaveBuffer[I];
    }
    FBufferFailure.clear();
    return true;
}

bool TAudioIO::FreeBuffers() {
    bool Released = false;
    for (int I = 0; I < kSlots; ++I) {
        if (!hWaveBuffer[I])
            continue;
        mem::Unlock(hWaveBuffer[I]);
        mem::Free(hWaveBuffer[I]);
        hWaveBuffer[I] = nullptr;
        WaveBuffer[I] = nullptr;
        FBufferBytes[I] = 0;
        Released = true;
    }
    return Released;
}

void TAudioIO::AbandonMemory() {
    hWaveBuffer.fill(nullptr);
    WaveBuffer.fill(nullptr);
    FBufferBytes.fill(0);
    hWaveHeader.fill(nullptr);
    WaveHdr.fill(nullptr);
}

// ---------------------------------------------------------------- TAudioOut

TAudioOut::TAudioOut(IWaveOutDriver* Driver) : FDriver(Driver) {}

TAudioOut::~TAudioOut() {
    if (FDeviceHeld && FOpenDriver) {
        // Take every buffer back from the device before the memory goes.
        Active = false;
        ContinueProcessing = false;
        FOpenDriver->Reset(WaveHandle);
        for (int I = 0; I < FRingSize; ++I)
            FOpenDriver->UnprepareHeader(WaveHandle, WaveHdr[I]);
        if (FOpenDriver->Close(WaveHandle) != MMSYSERR_NOERROR) {
            // A device that will not let go may still post to the receiver and
            // read the ring: leave both to it rather than free them under it.
            CallBackWin->Detach();
            (void)CallBackWin.release();
            AbandonMemory();
        }
        FDeviceHeld = false;
    }
    WaveDeviceOpen = false;
    CallBackWin.reset();
}

IWaveOutDriver& TAudioOut::CurrentDriver() { return FDriver ? *FDriver : DefaultWaveOutDriver(); }

bool TAudioOut::Start(TAudioOut** TS) {
    bool Result = OpenDevice(TS);
    if (Result)
        Result = StartQueueing();
    return Result;
}

void TAudioOut::StopAtOnce() {
    if (!WaveDeviceOpen)
        return;
    Active = false;
    ContinueProcessing = false;
    FOpenDriver->Reset(WaveHandle);
    CloseDevice();
}

void TAudioOut::StopGracefully() {
    if (WaveDeviceOpen)
        ContinueProcessing = false;
}

void TAudioOut::SetPaused(bool Value) {
    FPaused = Value;
    if (Active && FOpenDriver) {
        if (Value)
            FOpenDriver->Pause(WaveHandle);
        else
            FOpenDriver->Restart(WaveHandle);
    }
}

double TAudioOut::ElapsedTime() {
    if (!Active || !FOpenDriver || FrameRate() == 0)
        return 0.0;
    uint32_t Samples = 0;
    if (FOpenDriver->GetPosition(WaveHandle, Samples) != MMSYSERR_NOERROR)
        return 0.0;
    return static_cast<double>(Samples) / FrameRate();
}

// The device of an earlier playback that is still playing its last buffer
// holds headers and buffers the new playback is about to reuse: cut it short.
// Its remaining notices carry its own handle and are ignored.
void TAudioOut::FinishEarlierDevice() {
    if (!FDeviceHeld || !FOpenDriver)
        return;
    FOpenDriver->Reset(WaveHandle);
    for (int I = 0; I < FRingSize; ++I)
        FOpenDriver->UnprepareHeader(WaveHandle, WaveHdr[I]);
    FOpenDriver->Close(WaveHandle);
    FDeviceHeld = false;
}

// Memory that an allocation failed to give is reported with that allocation's
// own text, even after ErrorMessage has been cleared or overwritten.
bool TAudioOut::RingReady() {
    for (int I = 0; I < FNumBuffers; ++I) {
        if (!WaveHdr[I]) {
            ErrorMessage = FHeaderFailure.empty() ? "Wave header memory is missing" : FHeaderFailure;
            return false;
        }
        if (!WaveBuffer[I] || FBufferBytes[I] < FBufferSize) {
            // without a failure, the ring has grown since its memory was taken
            ErrorMessage = FBufferFailure.empty() ? "Wave buffer memory is missing" : FBufferFailure;
            return false;
        }
    }
    return true;
}

bool TAudioOut::OpenDevice(TAudioOut** TS) {
    if (WaveDeviceOpen) {
        ErrorMessage = "Wave output device is already open";
        return false;
    }
    FinishEarlierDevice();
    if (FReallocPending) {
        FReallocPending = false;
        FreeBuffers();
        AllocateBuffers();
    }
    if (!RingReady())
        return false;

    BufIndex = 0;
    if (!CallBackWin)
        CallBackWin = std::make_unique<TCallBackWinOut>(this);
    CallBackWin->AudioComponent = TS ? TS : &FSelf;

    // A failed open leaves WaveHandle alone, so the tail of an earlier
    // playback still reaches the component.
    IWaveOutDriver& Driver = CurrentDriver();
    HWaveOut Handle = kNoWaveOut;
    MMRESULT R = Driver.Open(&Handle, FWaveDevice, FWaveFmtEx, CallBackWin.get());
    if (R != MMSYSERR_NOERROR) {
        ErrorMessage = WaveOutErrorText(Driver, R);
        return false;
    }
    WaveHandle = Handle;
    FOpenDriver = &Driver;
    FDeviceHeld = true;
    FRingSize = FNumBuffers;
    WrittenBuffers = 0;

    WaveDeviceOpen = true;
    InitWaveHeaders();
    for (int I = 0; I < FRingSize; ++I) {
        R = Driver.PrepareHeader(WaveHandle, WaveHdr[I]);
        if (R != MMSYSERR_NOERROR) {
            ErrorMessage = WaveOutErrorText(Driver, R);
            CloseDevice();
            return false;
        }
    }

    QueuedBuffers = ProcessedBuffers = FilledBuffers = 0;
    ContinueProcessing = true;
    Active = true;

    try {
        if (!DoFillBuffer(0, FBufferSize)) {
            CloseDevice();
            ErrorMessage = "There must be at least one filled buffer";
            return false;
        }
        for (int I = 1; I < FRingSize; ++I)
            DoFillBuffer(I, FBufferSize);
    } catch (...) {
        // The owner's error goes to its caller; the device must not stay open
        // with nothing written, which nothing would ever close.
        ContinueProcessing = false;
        CloseDevice();
        throw;
    }
    return true;
}

bool TAudioOut::StartQueueing() {
    Active = true;
    if (FPaused)
        FOpenDriver->Pause(WaveHandle);
    if (!QueueBuffer()) {
        CloseDevice();
        return false;
    }
    for (int I = 1; I < FRingSize; ++I)
        QueueBuffer();
    return true;
}

bool TAudioOut::QueueBuffer() {
    wave::WaveHdr* Hdr = WaveHdr[BufIndex];
    Hdr->dwFlags = WHDR_PREPARED;
    MMRESULT R = FOpenDriver->Write(WaveHandle, Hdr);
    if (R != MMSYSERR_NOERROR) {
        ErrorMessage = WaveOutErrorText(*FOpenDriver, R);
        StopGracefully();
        return false;
    }
    ++WrittenBuffers;
    BufIndex = (BufIndex + 1) % FRingSize;
    return true;
}

bool TAudioOut::DoFillBuffer(int32_t Index, int32_t Size) {
    if (!ContinueProcessing)
        return false;
    bool Answer = false;
    if (OnFillBuffer && WaveBuffer[Index]) {
        const int32_t Given = std::min(Size, FBufferBytes[Index]);
        int32_t Left = Given;
        Answer = OnFillBuffer(WaveBuffer[Index], Left);
        WaveHdr[Index]->dwBufferLength = static_cast<uint32_t>(std::clamp(Left, 0, Given));
    }
    if (Answer)
        ++FilledBuffers;
    QueuedBuffers = FilledBuffers - ProcessedBuffers;
    return Answer;
}

void TAudioOut::BufferDone() {
    ++ProcessedBuffers;
    QueuedBuffers = FilledBuffers - ProcessedBuffers;
    // A buffer that was filled but whose write failed never comes back; once
    // nothing written is left in the device, no completion would close it.
    Active = QueuedBuffers > 0 && WrittenBuffers > ProcessedBuffers;
    const bool StillActive = Active;

    std::exception_ptr FillError;
    try {
        if (DoFillBuffer(BufIndex, FBufferSize))
            QueueBuffer();
    } catch (...) {
        FillError = std::current_exception();
    }

    if (!StillActive) {
        ContinueProcessing = false;
        CloseDevice();
    }
    if (FillError)
        std::rethrow_exception(FillError);
}

void TAudioOut::CloseDevice() {
    Active = false;
    SetPaused(false);
    if (FOpenDriver) {
        // A device that failed under the playback says why; keep it, as a
        // failed write would have.
        MMRESULT DeviceError = MMSYSERR_NOERROR;
        if (FDeviceHeld && FOpenDriver->GetDeviceError(WaveHandle, DeviceError) == MMSYSERR_NOERROR &&
            DeviceError != MMSYSERR_NOERROR)
            ErrorMessage = WaveOutErrorText(*FOpenDriver, DeviceError);
        for (int I = 0; I < FRingSize; ++I)
            FOpenDriver->UnprepareHeader(WaveHandle, WaveHdr[I]);
        if (FOpenDriver->Close(WaveHandle) == MMSYSERR_NOERROR)
            FDeviceHeld = false;
    }
    WaveDeviceOpen = false;
}

void TAudioOut::HandleNotice(Notice N, HWaveOut Handle) {
    // Notices of an earlier playback carry its handle; they must not act on
    // the current one.
    if (Handle == kNoWaveOut || Handle != WaveHandle)
        return;
    try {
        switch (N) {
        case Notice::Open:
            if (OnStart)
                OnStart();
            break;
        case Notice::Close:
            if (OnStop)
                OnStop();
            break;
        case Notice::Done:
            BufferDone();
            break;
        }
    } catch (...) {
        ReportCurrentException();
    }
}

} // namespace zelvo
