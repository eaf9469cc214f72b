// An ALSA I/O plugin for the tests that plays like a sound card: it consumes
// frames at the frame rate by the monotonic clock, wakes its poller once a
// period, reports an underrun when it runs dry, and writes every frame it has
// played (only those: what a drop discards is taken back) to a capture file.
//
// Configuration:  type zelvotick
//                 capture "/path/file.raw"   (required)
//                 pause false                (no pause in the device)
// While "<capture>.unplug" exists its position can no longer be read (how the
// sound servers' plugins fail); while "<capture>.pollerr" exists its
// descriptor reports an error; while "<capture>.freeze" exists it stops
// consuming; while "<capture>.xrun" exists it underruns as soon as it plays,
// whatever it holds; while "<capture>.noprepare" exists it cannot be prepared.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <fcntl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

namespace {

uint64_t NowNs() {
    timespec T{};
    clock_gettime(CLOCK_MONOTONIC, &T);
    return static_cast<uint64_t>(T.tv_sec) * 1000000000u + static_cast<uint64_t>(T.tv_nsec);
}


struct TTick {
    snd_pcm_ioplug_t Io{};
    std::string Capture;
    int CaptureFd = -1;
    int TimerFd = -1;
    unsigned FrameBytes = 0;
    uint64_t FileFrames = 0;  // frames in the capture file
    // The current run (since prepare).
    uint64_t Written = 0;
    uint64_t PlayedBefore = 0;  // played before the current running stretch
    uint64_t StartedNs = 0;
    bool Running = false;
    uint64_t Reported = 0;  // the played position last reported
    snd_pcm_sframes_t LastPointer = 0;
    // The trigger files, looked at no more than once a millisecond.
    uint64_t CheckedNs = 0;
    bool Unplugged = false, PollErr = false, Frozen = false, Xrun = false, NoPrepare = false;

    void LookAtTriggers() {
        const uint64_t Now = NowNs();
        if (Now - CheckedNs < 1000000u) return;
        CheckedNs = Now;
        auto Exists = [&](const char* What) { return access((Capture + What).c_str(), F_OK) == 0; };
        Unplugged = Exists(".unplug");
        PollErr = Exists(".pollerr");
        Frozen = Exists(".freeze");
        // Before noprepare: a test that creates noprepare first can never have
        // the underrun seen without it.
        Xrun = Exists(".xrun");
        NoPrepare = Exists(".noprepare");
    }

    uint64_t Clock() const {
        if (!Running) return PlayedBefore;
        return PlayedBefore + (NowNs() - StartedNs) * Io.rate / 1000000000u;
    }
    void Halt() {
        PlayedBefore = std::min(Clock(), Written);
        Running = false;
    }
    // What was written and not played is not heard.
    void DiscardUnplayed() {
        Halt();
        const uint64_t Unplayed = Written - PlayedBefore;
        FileFrames -= std::min(FileFrames, Unplayed);
        if (CaptureFd >= 0) {
            [[maybe_unused]] int R = ftruncate(CaptureFd, static_cast<off_t>(FileFrames * FrameBytes));
            lseek(CaptureFd, 0, SEEK_END);
        }
        Written = PlayedBefore = 0;
    }
};

TTick* Of(snd_pcm_ioplug_t* Io) { return static_cast<TTick*>(Io->private_data); }

int TickStart(snd_pcm_ioplug_t* Io) {
    TTick* T = Of(Io);
    T->StartedNs = NowNs();
    T->Running = true;
    return 0;
}

// A drop keeps what the application was last told had been played, so that
// the application can write the rest again without a frame twice or missing.
int TickStop(snd_pcm_ioplug_t* Io) {
    TTick* T = Of(Io);
    if (T->Running) T->PlayedBefore = std::min(T->Reported, T->Written);
    T->Running = false;
    return 0;
}

snd_pcm_sframes_t TickPointer(snd_pcm_ioplug_t* Io) {
    TTick* T = Of(Io);
    T->LookAtTriggers();
    if (T->Unplugged) return -ENODEV;
    if (T->Frozen) return T->LastPointer;
    if (T->Xrun && T->Running) {
        T->Halt();
        return -EPIPE;
    }
    const uint64_t C = T->Clock();
    if (T->Running && C >= T->Written) {
        T->PlayedBefore = T->Written;
        T->Running = false;
        return -EPIPE;
    }
    T->Reported = std::min(C, T->Written);
    T->LastPointer = static_cast<snd_pcm_sframes_t>(T->Reported % Io->buffer_size);
    return T->LastPointer;
}

snd_pcm_sframes_t TickTransfer(snd_pcm_ioplug_t* Io, const snd_pcm_channel_area_t* Areas,
                               snd_pcm_uframes_t Offset, snd_pcm_uframes_t Size) {
    TTick* T = Of(Io);
    const auto* Base = static_cast<const char*>(Areas[0].addr) + Areas[0].first / 8 + Offset * (Areas[0].step / 8);
    const size_t Bytes = Size * T->FrameBytes;
    if (write(T->CaptureFd, Base, Bytes) != static_cast<ssize_t>(Bytes)) return -EIO;
    T->FileFrames += Size;
    T->Written += Size;
    return static_cast<snd_pcm_sframes_t>(Size);
}

int TickHwParams(snd_pcm_ioplug_t* Io, snd_pcm_hw_params_t*) {
    TTick* T = Of(Io);
    T->FrameBytes = static_cast<unsigned>(snd_pcm_format_physical_width(Io->format) / 8) * Io->channels;
    const uint64_t PeriodNs = static_cast<uint64_t>(Io->period_size) * 1000000000u / Io->rate;
    itimerspec Spec{};
    Spec.it_interval.tv_sec = static_cast<time_t>(PeriodNs / 1000000000u);
    Spec.it_interval.tv_nsec = static_cast<long>(PeriodNs % 1000000000u);
    Spec.it_value = Spec.it_interval;
    return timerfd_settime(T->TimerFd, 0, &Spec, nullptr) < 0 ? -errno : 0;
}

int TickPrepare(snd_pcm_ioplug_t* Io) {
    TTick* T = Of(Io);
    T->LookAtTriggers();
    if (T->NoPrepare) return -EIO;
    T->DiscardUnplayed();
    T->Reported = 0;
    T->LastPointer = 0;
    return 0;
}

int TickPause(snd_pcm_ioplug_t* Io, int Enable) {
    TTick* T = Of(Io);
    if (Enable)
        T->Halt();
    else
        TickStart(Io);
    return 0;
}

int TickPollRevents(snd_pcm_ioplug_t* Io, struct pollfd* Pfd, unsigned int, unsigned short* Revents) {
    TTick* T = Of(Io);
    uint64_t Ticks;
    [[maybe_unused]] auto N = read(Pfd[0].fd, &Ticks, sizeof Ticks);
    T->LookAtTriggers();
    *Revents = T->PollErr ? POLLOUT | POLLERR : POLLOUT;
    return 0;
}

int TickClose(snd_pcm_ioplug_t* Io) {
    TTick* T = Of(Io);
    T->DiscardUnplayed();
    if (T->CaptureFd >= 0) close(T->CaptureFd);
    if (T->TimerFd >= 0) close(T->TimerFd);
    delete T;
    return 0;
}

snd_pcm_ioplug_callback_t MakeCallbacks(bool Pause) {
    snd_pcm_ioplug_callback_t C{};
    C.start = TickStart;
    C.stop = TickStop;
    C.pointer = TickPointer;
    C.transfer = TickTransfer;
    C.close = TickClose;
    C.hw_params = TickHwParams;
    C.prepare = TickPrepare;
    if (Pause) C.pause = TickPause;
    C.poll_revents = TickPollRevents;
    return C;
}

const snd_pcm_ioplug_callback_t WithPause = MakeCallbacks(true);
const snd_pcm_ioplug_callback_t WithoutPause = MakeCallbacks(false);

int Constrain(snd_pcm_ioplug_t* Io) {
    static const unsigned Access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned Formats[] = {SND_PCM_FORMAT_U8, SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_S24_3LE};
    int E = snd_pcm_ioplug_set_param_list(Io, SND_PCM_IOPLUG_HW_ACCESS, 1, Access);
    if (E >= 0) E = snd_pcm_ioplug_set_param_list(Io, SND_PCM_IOPLUG_HW_FORMAT, 3, Formats);
    if (E >= 0) E = snd_pcm_ioplug_set_param_minmax(Io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 2);
    if (E >= 0) E = snd_pcm_ioplug_set_param_minmax(Io, SND_PCM_IOPLUG_HW_RATE, 8000, 192000);
    if (E >= 0) E = snd_pcm_ioplug_set_param_minmax(Io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20);
    if (E >= 0) E = snd_pcm_ioplug_set_param_minmax(Io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64);
    if (E >= 0) E = snd_pcm_ioplug_set_param_minmax(Io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 256, 4 << 20);
    return E;
}

} // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(zelvotick) {
    (void)root;
    const char* Capture = nullptr;
    bool Pause = true;
    snd_config_iterator_t I, Next;
    snd_config_for_each(I, Next, conf) {
        snd_config_t* N = snd_config_iterator_entry(I);
        const char* Id;
        if (snd_config_get_id(N, &Id) < 0) continue;
        if (!strcmp(Id, "comment") || !strcmp(Id, "type") || !strcmp(Id, "hint")) continue;
        if (!strcmp(Id, "capture")) {
            if (snd_config_get_string(N, &Capture) < 0) return -EINVAL;
            continue;
        }
        if (!strcmp(Id, "pause")) {
            const int B = snd_config_get_bool(N);
            if (B < 0) return -EINVAL;
            Pause = B != 0;
            continue;
        }
        return -EINVAL;
    }
    if (!Capture || stream != SND_PCM_STREAM_PLAYBACK) return -EINVAL;

    auto* T = new TTick;
    T->Capture = Capture;
    T->CaptureFd = ::open(Capture, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    T->TimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (T->CaptureFd < 0 || T->TimerFd < 0) {
        const int E = -errno;
        if (T->CaptureFd >= 0) close(T->CaptureFd);
        if (T->TimerFd >= 0) close(T->TimerFd);
        delete T;
        return E;
    }
    T->Io.version = SND_PCM_IOPLUG_VERSION;
    T->Io.name = "Zelvo tick device";
    T->Io.callback = Pause ? &WithPause : &WithoutPause;
    T->Io.private_data = T;
    T->Io.poll_fd = T->TimerFd;
    T->Io.poll_events = POLLIN;
    T->Io.flags = SND_PCM_IOPLUG_FLAG_MONOTONIC;
    int E = snd_pcm_ioplug_create(&T->Io, name, stream, mode);
    if (E < 0) {
        close(T->CaptureFd);
        close(T->TimerFd);
        delete T;
        return E;
    }
    E = Constrain(&T->Io);
    if (E < 0) {
        snd_pcm_ioplug_delete(&T->Io);
        return E;
    }
    *pcmp = T->Io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(zelvotick)

} // extern "C"
