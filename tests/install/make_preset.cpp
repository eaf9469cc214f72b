// Writes a preset file whose four memories carry the given names, through the
// program's own writer: make_preset FILE NAME1 NAME2 NAME3 NAME4
#include <cstdio>
#include <exception>

#include "app/memories.h"
#include "app/preset_file.h"

int main(int argc, char** argv) {
    if (argc != 2 + zelvo::TMemoryBank::kCount) {
        std::fprintf(stderr, "usage: make_preset FILE NAME1 NAME2 NAME3 NAME4\n");
        return 2;
    }
    zelvo::TMemoryBank Bank;
    for (int No = 1; No <= zelvo::TMemoryBank::kCount; ++No) {
        Bank[No].SetName(argv[1 + No]);
        Bank[No].Count = 1;
    }
    try {
        zelvo::WriteWholeFile(QString::fromLocal8Bit(argv[1]), zelvo::PresetFileImage(Bank));
    } catch (const std::exception& E) {
        std::fprintf(stderr, "%s\n", E.what());
        return 1;
    }
    return 0;
}
