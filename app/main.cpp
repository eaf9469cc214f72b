#include <QApplication>
#include <string>
#include <vector>

#include "app/application.h"
#include "platform/alsa_wave_out.h"
#include "platform/error_sink.h"
#include "platform/wave_out.h"

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    zelvo::InitToolkit();
    // the sound devices of the system; it outlives every window that plays on it
    zelvo::wave::TAlsaWaveOut Alsa;
    zelvo::wave::SetDefaultWaveOutDriver(&Alsa);
    int Result = 0;
    {
        // the toolkit has taken its own options out of argv; the rest stay bytes
        zelvo::TApplication Zelvo(std::vector<std::string>(argv, argv + argc));
        try {
            Zelvo.Start();
        } catch (...) {
            zelvo::ReportCurrentException();
        }
        Result = Zelvo.Run();
    }
    zelvo::wave::SetDefaultWaveOutDriver(nullptr);
    return Result;
}
