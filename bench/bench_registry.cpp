// Opens, reads and writes settings files just under the store's size limit:
// one key with many short values, and many keys with one value each. Each
// step reads the whole file; a write does so under the folder lock, which a
// second program waits three seconds for at most.
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "platform/registry.h"

using zelvo::TRegistry;

namespace {

double Ms(QElapsedTimer& Clock) {
    const double Result = static_cast<double>(Clock.nsecsElapsed()) / 1e6;
    Clock.restart();
    return Result;
}

void Run(const char* What, const QByteArray& Data, const QString& Key, const QString& Name) {
    QTemporaryDir Temp;
    TRegistry::SetStorageFolder(Temp.path());
    QFile F(Temp.filePath(QStringLiteral("Zelvo.ini")));
    if (!F.open(QIODevice::WriteOnly) || F.write(Data) != Data.size())
        return;
    F.close();
    std::printf("%-26s %8lld bytes:", What, static_cast<long long>(Data.size()));
    std::fflush(stdout);
    QElapsedTimer Clock;
    Clock.start();
    TRegistry Reg;
    if (!Reg.OpenKey(Key, false)) {
        std::printf(" cannot be opened\n");
        return;
    }
    std::printf(" open %8.1f ms,", Ms(Clock));
    std::fflush(stdout);
    Reg.ReadInteger(Name);
    std::printf(" read %8.1f ms,", Ms(Clock));
    std::fflush(stdout);
    Reg.WriteInteger(QStringLiteral("Fs"), 1);
    std::printf(" write %8.1f ms\n", Ms(Clock));
    TRegistry::SetStorageFolder(QString());
}

} // namespace

int main(int argc, char** argv) {
    const int Values = argc > 1 ? std::atoi(argv[1]) : 95000;
    QByteArray OneKey("[Software\\Quorvin\\Zelvo]\n");
    for (int I = 0; I < Values; ++I)
        OneKey += "V" + QByteArray::number(I).rightJustified(5, '0') + "=" + QByteArray::number(I % 1000) + "\n";
    Run("one key, short values", OneKey, QStringLiteral("\\Software\\Quorvin\\Zelvo"), QStringLiteral("V00001"));

    QByteArray ManyKeys;
    for (int I = 0; I < Values * 11 / 14; ++I)
        ManyKeys += "[K" + QByteArray::number(I).rightJustified(5, '0') + "]\nV=1\n\n";
    Run("many keys, one value each", ManyKeys, QStringLiteral("\\K00001"), QStringLiteral("V"));
    return 0;
}
