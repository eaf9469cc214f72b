// A writer to be killed: exports the same WAV file, or writes the settings,
// over and over until a signal ends it.
//   replace_victim wav FILE [named]
//   replace_victim settings FOLDER [named]
// "named": as on a file system without unnamed temporary files. Or, not to be
// killed, a settings writer beside another one: writes the values
// PREFIX0 .. PREFIX<COUNT-1> (each its own number) once and ends; or writes
// FILE once and ends.
//   replace_victim values FOLDER PREFIX COUNT
//   replace_victim once FILE
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/file_replacement.h"
#include "platform/registry.h"
#include "victim.h"

using namespace zelvo;

int main(int Argc, char** Argv) {
    if (Argc < 3) {
        std::fprintf(stderr, "usage: %s wav|settings PATH [named]\n", Argv[0]);
        return 2;
    }
    if (std::strcmp(Argv[1], "values") == 0 && Argc == 5) {
        TRegistry::SetStorageFolder(QString::fromLocal8Bit(Argv[2]));
        int Failed = 0;
        for (int I = 0; I < std::atoi(Argv[4]); ++I) {
            TRegistry Reg;
            try {
                if (!Reg.OpenKey(QString::fromLatin1(test::kSettingsKey), true))
                    throw ERegistryException("the key cannot be opened");
                Reg.WriteInteger(QString::fromLatin1(Argv[3]) + QString::number(I), I);
            } catch (const ERegistryException& E) {
                std::fprintf(stderr, "%s\n", E.what());
                ++Failed;
            }
        }
        return Failed ? 1 : 0;
    }
    if (std::strcmp(Argv[1], "once") == 0) {
        TFileReplacement F(Argv[2]);
        return F.Write("written once", 12) && F.Commit() ? 0 : 1;
    }
    TFileReplacement::UseNamedTemporaries(Argc > 3 && std::strcmp(Argv[3], "named") == 0);
    if (std::strcmp(Argv[1], "wav") == 0) {
        for (;;) {
            TSynth S;
            test::PrepareVictimBank(S, test::kVictimSeconds);
            test::TSilentHost Host;
            WriteWaveData(S, Argv[2], Host);
        }
    }
    TRegistry::SetStorageFolder(QString::fromLocal8Bit(Argv[2]));
    for (int32_t N = 0;; ++N) {
        TRegistry Reg;
        if (Reg.OpenKey(QString::fromLatin1(test::kSettingsKey), true))
            Reg.WriteInteger(QStringLiteral("Fs"), N);
    }
}
