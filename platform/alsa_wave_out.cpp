#include "platform/alsa_wave_out.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace zelvo::wave {
namespace {

using TClock = std::chrono::steady_clock;
using TNanos = std::chrono::nanoseconds;
using namespace std::chrono_literals;

// A tail below the start threshold is started only after the queue has stayed
// dry this long, so that a burst of writes is not split by an early start.
constexpr TNanos kTailGrace = 2ms;
constexpr TNanos kResumeRetry = 100ms;
// After this many wake-ups in a row that changed nothing, the PCM's
// descriptors are left out for a few milliseconds: a plugin that reports
// ready without being ready must not spin the thread.
constexpr int kIdleWakesBeforeBackoff = 16;
constexpr TNanos kIdleBackoff = 5ms;

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsa() {
    static std::once_flag Once;
    std::call_once(Once, [] { snd_lib_error_set_handler(&QuietAlsa); });
}

uint64_t FramesIn(TNanos D, unsigned Rate) {
    if (D.count() <= 0) return 0;
    const auto Ns = static_cast<uint64_t>(D.count());
    return Ns / 1000000000u * Rate + Ns % 1000000000u * Rate / 1000000000u;
}

// Rounded up, so that a wake-up at that time finds the frames played.
TNanos TimeOf(uint64_t Frames, unsigned Rate) {
    Frames = std::min<uint64_t>(Frames, 1000000000u);
    return TNanos(static_cast<int64_t>((Frames * 1000000000u + Rate - 1) / Rate));
}

bool AlsaFormatOf(const WaveFormatEx& F, snd_pcm_format_t& Fmt) {
    if (F.wFormatTag != WAVE_FORMAT_PCM || F.nChannels == 0 || F.nSamplesPerSec == 0) return false;
    switch (F.wBitsPerSample) {
    case 8: Fmt = SND_PCM_FORMAT_U8; break;
    case 16: Fmt = SND_PCM_FORMAT_S16_LE; break;
    case 24: Fmt = SND_PCM_FORMAT_S24_3LE; break;
    case 32: Fmt = SND_PCM_FORMAT_S32_LE; break;
    default: return false;
    }
    return F.nBlockAlign == F.wBitsPerSample / 8 * F.nChannels;
}

struct TSetup {
    unsigned Rate = 0;
    unsigned FrameBytes = 0;
    uint64_t BufferFrames = 0;
    uint64_t PeriodFrames = 0;
    bool CanPause = false;
    bool Soft = false;
};

MMRESULT Configure(snd_pcm_t* Pcm, const WaveFormatEx& F, snd_pcm_format_t Fmt,
                   const TAlsaWaveOutOptions& O, TSetup& S) {
    snd_pcm_hw_params_t* Hw;
    snd_pcm_hw_params_alloca(&Hw);
    int E = snd_pcm_hw_params_any(Pcm, Hw);
    if (E < 0) return AlsaErrorCode(E);
    if (snd_pcm_hw_params_set_access(Pcm, Hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(Pcm, Hw, Fmt) < 0 ||
        snd_pcm_hw_params_set_channels(Pcm, Hw, F.nChannels) < 0 ||
        snd_pcm_hw_params_set_rate(Pcm, Hw, F.nSamplesPerSec, 0) < 0)
        return WAVERR_BADFORMAT;
    int Dir = 0;
    if (O.BufferTimeUs > 0) {
        unsigned Us = O.BufferTimeUs;
        snd_pcm_hw_params_set_buffer_time_near(Pcm, Hw, &Us, &Dir);
    }
    if (O.PeriodTimeUs > 0) {
        unsigned Us = O.PeriodTimeUs;
        Dir = 0;
        snd_pcm_hw_params_set_period_time_near(Pcm, Hw, &Us, &Dir);
    }
    E = snd_pcm_hw_params(Pcm, Hw);
    if (E < 0) return AlsaErrorCode(E);
    snd_pcm_uframes_t Buffer = 0, Period = 0;
    snd_pcm_hw_params_get_buffer_size(Hw, &Buffer);
    Dir = 0;
    snd_pcm_hw_params_get_period_size(Hw, &Period, &Dir);
    if (Buffer == 0) return AlsaErrorCode(-EINVAL);
    if (Period == 0 || Period > Buffer) Period = Buffer;

    snd_pcm_sw_params_t* Sw;
    snd_pcm_sw_params_alloca(&Sw);
    E = snd_pcm_sw_params_current(Pcm, Sw);
    if (E >= 0) E = snd_pcm_sw_params_set_start_threshold(Pcm, Sw, Buffer);
    if (E >= 0) E = snd_pcm_sw_params_set_stop_threshold(Pcm, Sw, Buffer);
    if (E >= 0) E = snd_pcm_sw_params_set_avail_min(Pcm, Sw, Period);
    if (E >= 0) E = snd_pcm_sw_params(Pcm, Sw);
    if (E < 0) return AlsaErrorCode(E);

    S.Rate = F.nSamplesPerSec;
    S.FrameBytes = F.nBlockAlign;
    S.BufferFrames = Buffer;
    S.PeriodFrames = Period;
    S.CanPause = snd_pcm_hw_params_can_pause(Hw) == 1;
    const snd_pcm_type_t Type = snd_pcm_type(Pcm);
    S.Soft = Type == SND_PCM_TYPE_NULL || Type == SND_PCM_TYPE_FILE;
    return MMSYSERR_NOERROR;
}

struct TEntry {
    WaveHdr* Hdr;
    const uint8_t* Data;
    uint64_t Start;  // stream positions, in frames
    uint64_t End;
};

enum class TCommand { Pause, Restart, Reset };

// One open PCM and its worker. Stream positions count frames from the open;
// a buffer written occupies [Start, End) and is done once Played >= End.
class TDevice {
public:
    TDevice(HWaveOut H, INoticeSink* Sink, snd_pcm_t* Pcm, const TSetup& S,
            const TAlsaWaveOutOptions& O)
        : Handle(H), Sink(Sink), Pcm(Pcm), Setup(S), Paced(O.Paced),
          MaxRecoveries(O.MaxRecoveriesPerSecond),
          StallTimeout(std::chrono::milliseconds(O.StallTimeoutMs)) {}

    ~TDevice() {
        if (Worker.joinable()) Abandon();
        if (Pcm) snd_pcm_close(Pcm);
        if (Status) snd_pcm_status_free(Status);
        if (WakeFd >= 0) ::close(WakeFd);
    }
    TDevice(const TDevice&) = delete;
    TDevice& operator=(const TDevice&) = delete;

    bool Start() {
        WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (WakeFd < 0 || snd_pcm_status_malloc(&Status) < 0) return false;
        try {
            Worker = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
            return false;
        }
        WorkerId = Worker.get_id();
        return true;
    }

    bool OnWorker() const { return std::this_thread::get_id() == WorkerId; }
    bool IsSoft() const { return SoftPub.load(); }
    uint64_t PlayedFrames() const { return PlayedPub.load(); }

    MMRESULT Prepare(WaveHdr* Hdr) {
        if (!Hdr || (!Hdr->lpData && Hdr->dwBufferLength > 0)) return MMSYSERR_INVALPARAM;
        std::lock_guard L(M);
        Hdr->dwFlags |= WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Unprepare(WaveHdr* Hdr) {
        if (!Hdr) return MMSYSERR_INVALPARAM;
        std::lock_guard L(M);
        if (Hdr->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        Hdr->dwFlags &= ~WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Write(WaveHdr* Hdr) {
        if (!Hdr || (!Hdr->lpData && Hdr->dwBufferLength > 0)) return MMSYSERR_INVALPARAM;
        {
            std::lock_guard L(M);
            if (Closing) return MMSYSERR_INVALHANDLE;
            if (Error != MMSYSERR_NOERROR) return Error;
            if (!(Hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
            if (Hdr->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
            Hdr->dwFlags = (Hdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
            const uint64_t Frames = Hdr->dwBufferLength / Setup.FrameBytes;
            Queue.push_back({Hdr, Hdr->lpData, QueueEnd, QueueEnd + Frames});
            QueueEnd += Frames;
            if (RanDry && Frames > 0) {
                // It had played everything it was given: the sound had a gap.
                RanDry = false;
                ++Counts.Underruns;
            }
        }
        Wake();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Command(TCommand C) {
        if (OnWorker()) return MMSYSERR_ERROR;
        std::unique_lock L(M);
        if (Closing) return MMSYSERR_INVALHANDLE;
        const uint64_t Seq = ++CmdSeq;
        switch (C) {
        case TCommand::Pause: PauseReq = true; break;
        case TCommand::Restart: PauseReq = false; break;
        case TCommand::Reset: ResetSeq = Seq; break;
        }
        L.unlock();
        Wake();
        L.lock();
        Cv.wait(L, [&] { return AckSeq >= Seq || Exited; });
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close() {
        if (OnWorker()) return MMSYSERR_ERROR;
        {
            std::lock_guard L(M);
            if (Closing) return MMSYSERR_INVALHANDLE;
            if (!Queue.empty()) return WAVERR_STILLPLAYING;
            Closing = true;
            QuitReq = true;
        }
        Wake();
        Worker.join();
        return MMSYSERR_NOERROR;
    }

    // Stops without another notice (the driver goes away with the device open).
    void Abandon() {
        Silent = true;
        {
            std::lock_guard L(M);
            Closing = true;
            QuitReq = true;
        }
        Wake();
        if (Worker.joinable() && !OnWorker()) Worker.join();
    }

    MMRESULT LastError() {
        std::lock_guard L(M);
        return Error;
    }

    TAlsaWaveOutCounters GetCounts() {
        std::lock_guard L(M);
        return Counts;
    }

    const HWaveOut Handle;
    INoticeSink* const Sink;

private:
    void Wake() {
        const uint64_t One = 1;
        [[maybe_unused]] auto R = ::write(WakeFd, &One, sizeof One);
    }

    void Notify(Notice N, WaveHdr* Hdr) {
        if (Sink && !Silent.load()) Sink->PostNotice(N, Handle, Hdr);
    }

    // --- everything below runs on the worker thread ---

    void Run() {
        for (;;) {
            uint64_t Seq, ResetReq;
            bool WantPause;
            {
                std::lock_guard L(M);
                if (QuitReq) break;
                Seq = CmdSeq;
                ResetReq = ResetSeq;
                WantPause = PauseReq;
            }
            const auto Now = TClock::now();
            bool Progress = false;
            if (ResetReq != ResetDone) {
                DoReset(Now);
                ResetDone = ResetReq;
                Progress = true;
            }
            if (WantPause != Paused) {
                if (WantPause)
                    DoPause(Now);
                else
                    DoRestart(Now);
                Progress = true;
            }
            if (!Lost && Step(Now)) Progress = true;
            {
                std::lock_guard L(M);
                AckSeq = Seq;
            }
            Cv.notify_all();
            IdleWakes = Progress ? 0 : IdleWakes + 1;
            Sleep(TClock::now());
        }
        snd_pcm_close(Pcm);
        Pcm = nullptr;
        {
            std::lock_guard L(M);
            Exited = true;
        }
        Cv.notify_all();
    }

    bool Step(TClock::time_point Now) {
        const uint64_t PlayedBefore = Played, FedBefore = Fed;
        UpdatePlayed(Now);
        if (!Lost && !Paused && Now >= RetryAt) {
            if (Setup.Soft)
                FeedSoft(Now);
            else
                FeedReal(Now);
        }
        if (!Lost && Fed != FedBefore) UpdatePlayed(Now);
        JustWrote = false;
        CheckStall(Now);
        const bool Posted = PostDone();
        return Posted || Played != PlayedBefore || Fed != FedBefore;
    }

    void SetPlayed(uint64_t V) {
        V = std::min(V, Fed);
        if (V > Played) {
            Played = V;
            PlayedPub.store(Played);
        }
    }

    // The device holds nothing any more: write again from the played position.
    void NewRun() {
        RunBase = Played;
        RunWritten = 0;
        Fed = Played;
        DryAt = DryFrom = {};
    }

    // The device holds Held of sound from At on: what it said, or what it
    // held before plus what was just written. The clock is read before the
    // device is asked or written to, so DryAt errs early, never late.
    void Holds(TClock::time_point At, TNanos Held) {
        DryFrom = At;
        DryAt = At + Held;
    }

    // An underrun that the writer caused (this process, starved or slow, wrote
    // too late): the device had sound from this run and has had the time to
    // play all of it. One that runs dry sooner, or without a frame written
    // since it was prepared, is failing: that is how an ioplug device that has
    // gone away shows itself, recovering at once and failing again.
    bool WriterWasLate() const {
        if (RunWritten == 0) return false;
        // the device's position may move a period at a time
        const TNanos Slack = std::min(TimeOf(Setup.PeriodFrames, Setup.Rate), (DryAt - DryFrom) / 2);
        return TClock::now() >= DryAt - Slack;
    }

    // Throws away what the device holds and starts a new run from the played
    // position, so the unplayed rest of the buffers is written again.
    void DropAndRewrite() {
        snd_pcm_drop(Pcm);
        const int E = snd_pcm_prepare(Pcm);
        if (E < 0) {
            Lose(AlsaErrorCode(E));
            return;
        }
        NewRun();
    }

    bool HasUnfed() {
        std::lock_guard L(M);
        return QueueEnd > Fed;
    }

    void UpdatePlayed(TClock::time_point Now) {
        if (Setup.Soft)
            UpdateSoft(Now);
        else
            UpdateReal(Now);
    }

    void UpdateSoft(TClock::time_point Now) {
        if (!Paced) {
            SetPlayed(Fed);
            return;
        }
        if (!ClockRunning) return;
        const uint64_t Clock = ClockBase + FramesIn(Now - ClockStart, Setup.Rate);
        if (Clock < Fed) {
            SetPlayed(Clock);
            return;
        }
        SetPlayed(Fed);
        bool Unfed;
        {
            std::lock_guard L(M);
            Unfed = QueueEnd > Fed;
            if (!Unfed) {
                RanDry = true;
            } else if (Clock > Fed) {
                ++Counts.Underruns;
                ++Counts.DriverUnderruns;
            }
        }
        if (Unfed) {
            // Like a card after an underrun: it goes on once data arrives.
            ClockStart = Now;
            ClockBase = Fed;
        } else {
            ClockRunning = false;
        }
    }

    void UpdateReal(TClock::time_point Now) {
        const auto Asked = TClock::now();
        const int E = snd_pcm_status(Pcm, Status);
        if (E < 0) {
            Lose(AlsaErrorCode(E));
            return;
        }
        switch (snd_pcm_status_get_state(Status)) {
        case SND_PCM_STATE_XRUN: Recover(-EPIPE, Now); return;
        case SND_PCM_STATE_SUSPENDED: Recover(-ESTRPIPE, Now); return;
        case SND_PCM_STATE_DISCONNECTED: Lose(AlsaErrorCode(-ENODEV)); return;
        case SND_PCM_STATE_OPEN:
        case SND_PCM_STATE_SETUP: {
            const int P = snd_pcm_prepare(Pcm);
            if (P < 0)
                Lose(AlsaErrorCode(P));
            else
                NewRun();
            return;
        }
        default: break;
        }
        const auto Delay = std::clamp<int64_t>(snd_pcm_status_get_delay(Status), 0,
                                               static_cast<int64_t>(RunWritten));
        SetPlayed(RunBase + RunWritten - static_cast<uint64_t>(Delay));
        Holds(Asked, TimeOf(static_cast<uint64_t>(Delay), Setup.Rate));
        if (JustWrote) {
            // Right after a write a device that plays keeps something queued.
            const bool Timeless = RunWritten >= Setup.PeriodFrames && Delay == 0 &&
                                  static_cast<uint64_t>(snd_pcm_status_get_avail(Status)) >=
                                      Setup.BufferFrames;
            TimelessHits = Timeless ? TimelessHits + 1 : 0;
            if (TimelessHits >= 2) BecomeSoft(Now);
        }
    }

    void BecomeSoft(TClock::time_point Now) {
        Setup.Soft = true;
        SoftPub.store(true);
        ClockBase = Played;
        ClockStart = Now;
        ClockRunning = Paced && Fed > Played;
    }

    bool TooManyRecoveries(TClock::time_point Now) {
        Recoveries.push_back(Now);
        while (!Recoveries.empty() && Now - Recoveries.front() > 1s) Recoveries.pop_front();
        return Recoveries.size() > MaxRecoveries;
    }

    // False when the caller is to stop writing for now (lost, or waiting to resume).
    bool Recover(int Err, TClock::time_point Now) {
        if (Err == -EPIPE) {
            // Underrun: the device has played everything it had.
            const bool Late = WriterWasLate();
            SetPlayed(RunBase + RunWritten);
            NewRun();
            {
                std::lock_guard L(M);
                if (QueueEnd > Fed) {
                    ++Counts.Underruns;
                    ++Counts.DriverUnderruns;
                } else {
                    RanDry = true;
                }
            }
            if (!Late && TooManyRecoveries(Now)) {
                Lose(ALSAWAVERR_UNSTABLE);
                return false;
            }
            const int E = snd_pcm_recover(Pcm, Err, 1);
            if (E < 0) {
                Lose(AlsaErrorCode(E));
                return false;
            }
            return true;
        }
        if (Err == -ESTRPIPE) {
            int E = snd_pcm_resume(Pcm);
            if (E == -EAGAIN) {
                RetryAt = Now + kResumeRetry;
                return false;
            }
            if (TooManyRecoveries(Now)) {
                Lose(ALSAWAVERR_UNSTABLE);
                return false;
            }
            if (E < 0) {
                E = snd_pcm_prepare(Pcm);
                if (E < 0) {
                    Lose(AlsaErrorCode(E));
                    return false;
                }
                NewRun();
            }
            return true;
        }
        Lose(AlsaErrorCode(Err));
        return false;
    }

    // The first queued buffer that still has frames to hand to the device.
    bool NextChunk(TEntry& C, uint64_t& Unfed) {
        std::lock_guard L(M);
        Unfed = QueueEnd - Fed;
        for (const TEntry& E : Queue) {
            if (E.End > Fed) {
                C = E;
                return true;
            }
        }
        return false;
    }

    const uint8_t* At(const TEntry& C) const { return C.Data + (Fed - C.Start) * Setup.FrameBytes; }

    void FeedReal(TClock::time_point Now) {
        for (int Round = 0; Round < 64; ++Round) {
            TEntry C;
            uint64_t Unfed;
            if (!NextChunk(C, Unfed)) break;
            const snd_pcm_sframes_t Avail = snd_pcm_avail_update(Pcm);
            if (Avail < 0) {
                if (!Recover(static_cast<int>(Avail), Now)) return;
                continue;
            }
            if (Avail == 0) break;
            // A running device whose position moves frame by frame would
            // otherwise be fed a few frames at a time; with less than a period
            // free its ring still holds the rest. Before the start the ring
            // is filled to the brim: that is what starts it.
            if (static_cast<uint64_t>(Avail) < std::min(Setup.PeriodFrames, Unfed) &&
                snd_pcm_state(Pcm) == SND_PCM_STATE_RUNNING)
                break;
            const auto N = std::min<uint64_t>(static_cast<uint64_t>(Avail), C.End - Fed);
            const auto Writing = TClock::now();
            const snd_pcm_sframes_t W = snd_pcm_writei(Pcm, At(C), N);
            if (W == -EAGAIN || W == 0) break;
            if (W < 0) {
                if (!Recover(static_cast<int>(W), Now)) return;
                continue;
            }
            Fed += static_cast<uint64_t>(W);
            RunWritten += static_cast<uint64_t>(W);
            JustWrote = true;
            const TNanos Before = DryAt > Writing ? DryAt - Writing : TNanos(0);
            Holds(Writing, Before + TimeOf(static_cast<uint64_t>(W), Setup.Rate));
        }
        StartTail(Now);
    }

    // Frames below the start threshold never start by themselves. With more
    // to come the ring is full and has started; should the device have taken
    // less, it is started all the same.
    void StartTail(TClock::time_point Now) {
        const uint64_t Pending = RunBase + RunWritten - Played;
        if (Pending == 0 || snd_pcm_state(Pcm) != SND_PCM_STATE_PREPARED) {
            DrySince.reset();
            return;
        }
        if (!HasUnfed()) {
            if (!DrySince) DrySince = Now;
            if (Now - *DrySince < kTailGrace) return;
        }
        DrySince.reset();
        const int E = snd_pcm_start(Pcm);
        if (E < 0) Recover(E, Now);
    }

    void FeedSoft(TClock::time_point Now) {
        for (int Round = 0; Round < 64; ++Round) {
            TEntry C;
            [[maybe_unused]] uint64_t Unfed;
            if (!NextChunk(C, Unfed)) break;
            const uint64_t Ahead = Fed - Played;
            uint64_t Room = Setup.BufferFrames;
            if (Paced) Room = Ahead < Setup.BufferFrames ? Setup.BufferFrames - Ahead : 0;
            if (Room == 0) break;
            const uint64_t N = std::min(Room, C.End - Fed);
            const snd_pcm_sframes_t W = snd_pcm_writei(Pcm, At(C), N);
            if (W == -EAGAIN || W == 0) {
                RetryAt = Now + 1ms;
                break;
            }
            if (W == -EPIPE || W == -ESTRPIPE) {
                // Its own state only; the clock here decides what was played.
                if (TooManyRecoveries(Now)) {
                    Lose(ALSAWAVERR_UNSTABLE);
                    return;
                }
                const int E = snd_pcm_recover(Pcm, static_cast<int>(W), 1);
                if (E < 0) {
                    Lose(AlsaErrorCode(E));
                    return;
                }
                continue;
            }
            if (W < 0) {
                Lose(AlsaErrorCode(static_cast<int>(W)));
                return;
            }
            Fed += static_cast<uint64_t>(W);
            RunWritten += static_cast<uint64_t>(W);
            JustWrote = true;
            if (!Paced) SetPlayed(Fed);
        }
        if (Paced && !ClockRunning && Fed > Played) {
            ClockRunning = true;
            ClockStart = Now;
            ClockBase = Played;
        }
    }

    // Frames in the device, not paused, and the played position stands still.
    void CheckStall(TClock::time_point Now) {
        if (Lost || Setup.Soft || Paused || RetryAt > Now || RunBase + RunWritten == Played) {
            StallSince.reset();
            return;
        }
        if (!StallSince || Played != StallPlayed) {
            StallSince = Now;
            StallPlayed = Played;
            return;
        }
        if (Now - *StallSince > StallTimeout) Lose(ALSAWAVERR_STALLED);
    }

    // Hands back, in order, every buffer taken off the queue.
    void PostAll(std::vector<WaveHdr*>& Done) {
        for (WaveHdr* H : Done) Notify(Notice::Done, H);
        Done.clear();
    }

    void TakeOff(const TEntry& E) {
        E.Hdr->dwFlags = (E.Hdr->dwFlags | WHDR_DONE) & ~WHDR_INQUEUE;
        DoneList.push_back(E.Hdr);
    }

    bool PostDone() {
        {
            std::lock_guard L(M);
            while (!Queue.empty() && Queue.front().End <= Played) {
                TakeOff(Queue.front());
                Queue.pop_front();
            }
        }
        const bool Any = !DoneList.empty();
        PostAll(DoneList);
        return Any;
    }

    void ReturnAll() {
        {
            std::lock_guard L(M);
            for (const TEntry& E : Queue) TakeOff(E);
            Queue.clear();
            QueueEnd = Played;
            RanDry = false;
        }
        PostAll(DoneList);
    }

    void Lose(MMRESULT Code) {
        if (Lost) return;
        Lost = true;
        if (!Setup.Soft) snd_pcm_drop(Pcm);
        {
            std::lock_guard L(M);
            Error = Code;
        }
        ReturnAll();
    }

    void DoReset(TClock::time_point Now) {
        if (!Lost) {
            UpdatePlayed(Now);
            if (!Lost && !Setup.Soft) {
                snd_pcm_drop(Pcm);
                const int E = snd_pcm_prepare(Pcm);
                if (E < 0) Lose(AlsaErrorCode(E));
            }
        }
        HwPaused = false;
        ClockRunning = false;
        DrySince.reset();
        NewRun();
        ClockBase = Played;
        ReturnAll();
    }

    void DoPause(TClock::time_point Now) {
        Paused = true;
        if (Lost) return;
        UpdatePlayed(Now);
        if (Lost) return;
        if (Setup.Soft) {
            ClockRunning = false;
            ClockBase = Played;
            return;
        }
        // Not started: it plays nothing as long as nothing more is written.
        if (snd_pcm_state(Pcm) != SND_PCM_STATE_RUNNING) return;
        if (Setup.CanPause && snd_pcm_pause(Pcm, 1) == 0) {
            HwPaused = true;
            return;
        }
        // No pause in this device: keep the unplayed rest and write it again.
        UpdatePlayed(Now);
        DropAndRewrite();
    }

    void DoRestart(TClock::time_point Now) {
        Paused = false;
        if (Lost) return;
        if (Setup.Soft) {
            if (Paced && Fed > Played) {
                ClockRunning = true;
                ClockStart = Now;
                ClockBase = Played;
            }
            return;
        }
        if (!HwPaused) return;
        HwPaused = false;
        if (snd_pcm_pause(Pcm, 0) == 0) return;
        DropAndRewrite();
    }

    void Sleep(TClock::time_point Now) {
        bool WantPcm = false;
        std::optional<TNanos> Timeout;
        auto Sooner = [&](TNanos T) {
            T = std::max(T, TNanos(0));
            if (!Timeout || T < *Timeout) Timeout = T;
        };
        if (!Lost && !Paused) {
            bool HaveEntry;
            uint64_t NextEnd = 0;
            bool Unfed;
            {
                std::lock_guard L(M);
                HaveEntry = !Queue.empty();
                if (HaveEntry) NextEnd = Queue.front().End;
                Unfed = QueueEnd > Fed;
            }
            if (RetryAt > Now) {
                Sooner(RetryAt - Now);
            } else if (Setup.Soft) {
                if (Paced && ClockRunning) {
                    if (HaveEntry && NextEnd > Played) Sooner(TimeOf(NextEnd - Played, Setup.Rate));
                    if (Fed > Played) Sooner(TimeOf(Fed - Played, Setup.Rate));
                    if (Unfed) {
                        const uint64_t Ahead = Fed - Played;
                        const uint64_t Low = Setup.BufferFrames - Setup.PeriodFrames;
                        Sooner(Ahead > Low ? TimeOf(Ahead - Low, Setup.Rate) : TNanos(0));
                    }
                }
            } else {
                WantPcm = Unfed;
                const uint64_t InDevice = RunBase + RunWritten;
                if (InDevice > Played) {
                    uint64_t Next = InDevice;
                    if (HaveEntry && NextEnd > Played) Next = std::min(Next, NextEnd);
                    Sooner(TimeOf(Next - Played, Setup.Rate) + 500us);
                    Sooner(std::min<TNanos>(StallTimeout, 500ms));
                }
                if (DrySince) Sooner(kTailGrace - (Now - *DrySince));
            }
        }

        PollFds.resize(1);
        PollFds[0] = {WakeFd, POLLIN, 0};
        int PcmCount = 0;
        if (WantPcm && IdleWakes > kIdleWakesBeforeBackoff) {
            WantPcm = false;
            Sooner(kIdleBackoff);
        }
        if (WantPcm) {
            PcmCount = snd_pcm_poll_descriptors_count(Pcm);
            if (PcmCount > 0) {
                PollFds.resize(1 + static_cast<size_t>(PcmCount));
                PcmCount = snd_pcm_poll_descriptors(Pcm, PollFds.data() + 1,
                                                    static_cast<unsigned>(PcmCount));
            }
            if (PcmCount <= 0) {
                PcmCount = 0;
                PollFds.resize(1);
                Sooner(TimeOf(Setup.PeriodFrames, Setup.Rate));
            }
        }
        if (Timeout && IdleWakes > kIdleWakesBeforeBackoff) Timeout = std::max(*Timeout, kIdleBackoff);

        timespec Ts{};
        if (Timeout) {
            Ts.tv_sec = static_cast<time_t>(Timeout->count() / 1000000000);
            Ts.tv_nsec = static_cast<long>(Timeout->count() % 1000000000);
        }
        const int R = ::ppoll(PollFds.data(), PollFds.size(), Timeout ? &Ts : nullptr, nullptr);
        if (R <= 0) return;
        if (PollFds[0].revents & POLLIN) {
            uint64_t V;
            [[maybe_unused]] auto N = ::read(WakeFd, &V, sizeof V);
        }
        if (PcmCount > 0) {
            unsigned short Rev = 0;
            const int E = snd_pcm_poll_descriptors_revents(Pcm, PollFds.data() + 1,
                                                           static_cast<unsigned>(PcmCount), &Rev);
            if (E < 0)
                Lose(AlsaErrorCode(E));
            else if (Rev & (POLLERR | POLLNVAL))
                OnPollError(TClock::now());
        }
    }

    void OnPollError(TClock::time_point Now) {
        switch (snd_pcm_state(Pcm)) {
        case SND_PCM_STATE_XRUN: Recover(-EPIPE, Now); break;
        case SND_PCM_STATE_SUSPENDED: Recover(-ESTRPIPE, Now); break;
        case SND_PCM_STATE_DISCONNECTED: Lose(AlsaErrorCode(-ENODEV)); break;
        default: Lose(ALSAWAVERR_DEVICEFAILED); break;
        }
    }

    snd_pcm_t* Pcm;
    TSetup Setup;
    const bool Paced;
    const size_t MaxRecoveries;
    const TNanos StallTimeout;
    int WakeFd = -1;
    snd_pcm_status_t* Status = nullptr;
    std::thread Worker;
    std::thread::id WorkerId;
    std::atomic<bool> Silent{false};
    std::atomic<uint64_t> PlayedPub{0};
    std::atomic<bool> SoftPub{Setup.Soft};

    // Shared with the calling thread, under M. Header flags are changed only
    // under M too.
    std::mutex M;
    std::condition_variable Cv;
    std::deque<TEntry> Queue;  // written and not yet handed back
    uint64_t QueueEnd = 0;     // where the next buffer written starts
    uint64_t CmdSeq = 0, AckSeq = 0, ResetSeq = 0;
    bool PauseReq = false;
    bool QuitReq = false;
    bool Closing = false;
    bool Exited = false;
    bool RanDry = false;  // it has played all it was given
    MMRESULT Error = MMSYSERR_NOERROR;
    TAlsaWaveOutCounters Counts;

    // The worker's own.
    uint64_t Played = 0;      // heard
    uint64_t Fed = 0;         // handed to the device
    uint64_t RunBase = 0;     // where the device's current run began
    uint64_t RunWritten = 0;  // frames written in that run
    uint64_t ResetDone = 0;
    bool Paused = false;
    bool HwPaused = false;
    bool Lost = false;
    bool JustWrote = false;
    int TimelessHits = 0;
    int IdleWakes = 0;
    bool ClockRunning = false;
    TClock::time_point ClockStart{};
    uint64_t ClockBase = 0;
    TClock::time_point RetryAt{};
    std::optional<TClock::time_point> StallSince;
    uint64_t StallPlayed = 0;
    std::optional<TClock::time_point> DrySince;
    std::deque<TClock::time_point> Recoveries;  // those the writer did not cause
    // When the device will have played all it holds, as known at DryFrom.
    TClock::time_point DryAt{}, DryFrom{};
    std::vector<WaveHdr*> DoneList;
    std::vector<pollfd> PollFds;
};

std::string FirstLine(const std::string& S, size_t Line) {
    size_t Begin = 0;
    for (size_t I = 0; I < Line; ++I) {
        const size_t Nl = S.find('\n', Begin);
        if (Nl == std::string::npos) return {};
        Begin = Nl + 1;
    }
    return S.substr(Begin, S.find('\n', Begin) - Begin);
}

// The CARD= argument of "prefix:CARD=x,DEV=y".
std::string CardOf(const std::string& Name) {
    const size_t P = Name.find("CARD=");
    if (P == std::string::npos) return {};
    const size_t B = P + 5;
    return Name.substr(B, Name.find(',', B) - B);
}

} // namespace

std::vector<TAlsaDevice> SelectAlsaPlaybackDevices(const std::vector<TAlsaHint>& Hints) {
    struct TPick {
        std::string Alsa, First, Second, Card;
        int Rank;  // for card entries: lower is preferred
    };
    std::vector<TPick> Picks;
    for (const TAlsaHint& H : Hints) {
        if (H.Name.empty() || H.IoId == "Input" || H.Name == "null") continue;
        TPick P{H.Name, FirstLine(H.Desc, 0), FirstLine(H.Desc, 1), {}, 0};
        if (P.First.empty()) P.First = H.Name;
        const size_t Colon = H.Name.find(':');
        if (Colon == std::string::npos) {
            if (H.Name == "dmix" || H.Name == "dsnoop") continue;
            if (H.Name == "default")
                Picks.insert(Picks.begin(), P);
            else
                Picks.push_back(P);
            continue;
        }
        const std::string Prefix = H.Name.substr(0, Colon);
        if (Prefix == "sysdefault")
            P.Rank = 0;
        else if (Prefix == "plughw")
            P.Rank = 1;
        else if (Prefix == "default")
            P.Rank = 2;
        else
            continue;
        P.Card = CardOf(H.Name);
        if (P.Card.empty()) continue;
        auto Same = std::find_if(Picks.begin(), Picks.end(),
                                 [&](const TPick& Q) { return Q.Card == P.Card; });
        if (Same == Picks.end())
            Picks.push_back(P);
        else if (P.Rank < Same->Rank)
            *Same = P;
    }

    std::vector<TAlsaDevice> Out;
    auto Count = [&](const std::string& Name, auto Label) {
        return std::count_if(Picks.begin(), Picks.end(),
                             [&](const TPick& Q) { return Label(Q) == Name; });
    };
    auto ByFirst = [](const TPick& Q) { return Q.First; };
    auto BySecond = [](const TPick& Q) {
        return Q.Second.empty() ? Q.First + " (" + Q.Alsa + ")" : Q.First + " (" + Q.Second + ")";
    };
    for (const TPick& P : Picks) {
        std::string Name = P.First;
        if (Count(Name, ByFirst) > 1) {
            Name = BySecond(P);
            if (Count(Name, BySecond) > 1) Name = P.First + " (" + P.Alsa + ")";
        }
        Out.push_back({Name, P.Alsa});
    }
    return Out;
}

struct TAlsaWaveOut::TImpl {
    TAlsaWaveOutOptions Options;
    mutable std::mutex M;
    std::vector<TAlsaDevice> List;
    bool Listed = false;
    std::map<HWaveOut, std::shared_ptr<TDevice>> Devices;
    HWaveOut NextHandle = 1;
    TAlsaWaveOutCounters ClosedCounts;

    void TakeListing() {
        std::vector<TAlsaHint> Hints;
        void** H = nullptr;
        if (snd_device_name_hint(-1, "pcm", &H) >= 0 && H) {
            auto Get = [](void* Hint, const char* Id) {
                char* V = snd_device_name_get_hint(Hint, Id);
                std::string S = V ? V : "";
                free(V);
                return S;
            };
            for (void** P = H; *P; ++P) Hints.push_back({Get(*P, "NAME"), Get(*P, "DESC"), Get(*P, "IOID")});
            snd_device_name_free_hint(H);
        }
        List = SelectAlsaPlaybackDevices(Hints);
        Listed = true;
    }

    std::shared_ptr<TDevice> Find(HWaveOut H) const {
        std::lock_guard L(M);
        const auto It = Devices.find(H);
        return It == Devices.end() ? nullptr : It->second;
    }
};

TAlsaWaveOut::TAlsaWaveOut(TAlsaWaveOutOptions Options) : Impl(std::make_unique<TImpl>()) {
    Impl->Options = Options;
    SilenceAlsa();
}

TAlsaWaveOut::~TAlsaWaveOut() {
    std::map<HWaveOut, std::shared_ptr<TDevice>> Open;
    {
        std::lock_guard L(Impl->M);
        Open.swap(Impl->Devices);
    }
    for (auto& [H, D] : Open) D->Abandon();
}

uint32_t TAlsaWaveOut::GetNumDevs() {
    std::lock_guard L(Impl->M);
    Impl->TakeListing();
    return static_cast<uint32_t>(Impl->List.size());
}

MMRESULT TAlsaWaveOut::GetDevCaps(uint32_t Id, std::string& Name) {
    std::lock_guard L(Impl->M);
    if (!Impl->Listed) Impl->TakeListing();
    if (Id >= Impl->List.size()) return MMSYSERR_BADDEVICEID;
    Name = Impl->List[Id].Name;
    return MMSYSERR_NOERROR;
}

MMRESULT TAlsaWaveOut::GetAlsaName(uint32_t Id, std::string& Name) {
    if (Id == WAVE_MAPPER) {
        Name = "default";
        return MMSYSERR_NOERROR;
    }
    std::lock_guard L(Impl->M);
    if (!Impl->Listed) Impl->TakeListing();
    if (Id >= Impl->List.size()) return MMSYSERR_BADDEVICEID;
    Name = Impl->List[Id].AlsaName;
    return MMSYSERR_NOERROR;
}

MMRESULT TAlsaWaveOut::Open(HWaveOut* Handle, uint32_t Id, const WaveFormatEx& Format,
                            INoticeSink* Sink) {
    if (!Handle) return MMSYSERR_INVALPARAM;
    *Handle = kNoWaveOut;
    std::string Name;
    if (const MMRESULT R = GetAlsaName(Id, Name)) return R;
    snd_pcm_format_t Fmt;
    if (!AlsaFormatOf(Format, Fmt)) return WAVERR_BADFORMAT;

    snd_pcm_t* Pcm = nullptr;
    const int E = snd_pcm_open(&Pcm, Name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (E < 0) return AlsaErrorCode(E);
    TSetup Setup;
    TAlsaWaveOutOptions Options;
    {
        std::lock_guard L(Impl->M);
        Options = Impl->Options;
    }
    if (const MMRESULT R = Configure(Pcm, Format, Fmt, Options, Setup)) {
        snd_pcm_close(Pcm);
        return R;
    }

    HWaveOut H;
    {
        std::lock_guard L(Impl->M);
        H = Impl->NextHandle++;
        if (Impl->NextHandle == kNoWaveOut) Impl->NextHandle = 1;
    }
    std::shared_ptr<TDevice> Dev;
    try {
        Dev = std::make_shared<TDevice>(H, Sink, Pcm, Setup, Options);
    } catch (const std::bad_alloc&) {
        snd_pcm_close(Pcm);
        return MMSYSERR_NOMEM;
    }
    if (!Dev->Start()) return ALSAWAVERR_NOTHREAD;  // the device closes the PCM
    {
        std::lock_guard L(Impl->M);
        Impl->Devices[H] = Dev;
    }
    *Handle = H;
    if (Sink) Sink->PostNotice(Notice::Open, H, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT TAlsaWaveOut::PrepareHeader(HWaveOut H, WaveHdr* Hdr) {
    const auto D = Impl->Find(H);
    return D ? D->Prepare(Hdr) : MMSYSERR_INVALHANDLE;
}

MMRESULT TAlsaWaveOut::UnprepareHeader(HWaveOut H, WaveHdr* Hdr) {
    const auto D = Impl->Find(H);
    return D ? D->Unprepare(Hdr) : MMSYSERR_INVALHANDLE;
}

MMRESULT TAlsaWaveOut::Write(HWaveOut H, WaveHdr* Hdr) {
    const auto D = Impl->Find(H);
    return D ? D->Write(Hdr) : MMSYSERR_INVALHANDLE;
}

MMRESULT TAlsaWaveOut::Pause(HWaveOut H) {
    const auto D = Impl->Find(H);
    return D ? D->Command(TCommand::Pause) : MMSYSERR_INVALHANDLE;
}

MMRESULT TAlsaWaveOut::Restart(HWaveOut H) {
    const auto D = Impl->Find(H);
    return D ? D->Command(TCommand::Restart) : MMSYSERR_INVALHANDLE;
}

MMRESULT TAlsaWaveOut::Reset(HWaveOut H) {
    const auto D = Impl->Find(H);
    return D ? D->Command(TCommand::Reset) : MMSYSERR_INVALHANDLE;
}

MMRESULT TAlsaWaveOut::Close(HWaveOut H) {
    const auto D = Impl->Find(H);
    if (!D) return MMSYSERR_INVALHANDLE;
    if (const MMRESULT R = D->Close()) return R;
    {
        std::lock_guard L(Impl->M);
        Impl->Devices.erase(H);
        const TAlsaWaveOutCounters C = D->GetCounts();
        Impl->ClosedCounts.Underruns += C.Underruns;
        Impl->ClosedCounts.DriverUnderruns += C.DriverUnderruns;
    }
    if (D->Sink) D->Sink->PostNotice(Notice::Close, H, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT TAlsaWaveOut::GetPosition(HWaveOut H, uint32_t& Samples) {
    const auto D = Impl->Find(H);
    if (!D) return MMSYSERR_INVALHANDLE;
    Samples = static_cast<uint32_t>(D->PlayedFrames());
    return MMSYSERR_NOERROR;
}

MMRESULT TAlsaWaveOut::GetDeviceError(HWaveOut H, MMRESULT& Error) {
    const auto D = Impl->Find(H);
    if (!D) return MMSYSERR_INVALHANDLE;
    Error = D->LastError();
    return MMSYSERR_NOERROR;
}

MMRESULT TAlsaWaveOut::IsSoftwareClocked(HWaveOut H, bool& Soft) {
    const auto D = Impl->Find(H);
    if (!D) return MMSYSERR_INVALHANDLE;
    Soft = D->IsSoft();
    return MMSYSERR_NOERROR;
}

std::string TAlsaWaveOut::GetErrorText(MMRESULT Code) {
    if (Code > ALSAERR_BASE && Code - ALSAERR_BASE <= 0x7FFFFFFFu)
        return snd_strerror(-static_cast<int>(Code - ALSAERR_BASE));
    switch (Code) {
    case ALSAWAVERR_DEVICEFAILED: return "The sound output device reported an error and stopped playing.";
    case ALSAWAVERR_UNSTABLE: return "The sound output device kept failing and was given up.";
    case ALSAWAVERR_STALLED: return "The sound output device stopped playing.";
    case ALSAWAVERR_NOTHREAD: return "The sound output could not start its worker thread.";
    default: return StandardErrorText(Code);
    }
}

TAlsaWaveOutCounters TAlsaWaveOut::Counters() const {
    std::vector<std::shared_ptr<TDevice>> Open;
    TAlsaWaveOutCounters Sum;
    {
        std::lock_guard L(Impl->M);
        Sum = Impl->ClosedCounts;
        for (const auto& [H, D] : Impl->Devices) Open.push_back(D);
    }
    for (const auto& D : Open) {
        const TAlsaWaveOutCounters C = D->GetCounts();
        Sum.Underruns += C.Underruns;
        Sum.DriverUnderruns += C.DriverUnderruns;
    }
    return Sum;
}

MMRESULT TAlsaWaveOut::GetCounters(HWaveOut H, TAlsaWaveOutCounters& C) {
    const auto D = Impl->Find(H);
    if (!D) return MMSYSERR_INVALHANDLE;
    C = D->GetCounts();
    return MMSYSERR_NOERROR;
}

void TAlsaWaveOut::SetPaced(bool Paced) {
    std::lock_guard L(Impl->M);
    Impl->Options.Paced = Paced;
}

bool TAlsaWaveOut::Paced() const {
    std::lock_guard L(Impl->M);
    return Impl->Options.Paced;
}

} // namespace zelvo::wave
