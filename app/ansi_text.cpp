#include "app/ansi_text.h"

#include <cstdint>

namespace zelvo {
namespace {

// Bytes 0x80 to 0x9F. The five bytes the code page leaves undefined stand for
// the control characters of the same value, as the system's conversion does.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

constexpr char kDefaultChar = '?';

char ByteOf(char16_t C) {
    if (C < 0x80 || (C >= 0xA0 && C <= 0xFF))
        return static_cast<char>(C);
    for (int I = 0; I < 32; ++I)
        if (kHigh[I] == C)
            return static_cast<char>(0x80 + I);
    return kDefaultChar;
}

} // namespace

std::string AnsiFromText(const QString& Text) {
    std::string Out;
    Out.reserve(static_cast<size_t>(Text.size()));
    for (qsizetype I = 0; I < Text.size(); ++I) {
        const QChar C = Text.at(I);
        if (C.isHighSurrogate() && I + 1 < Text.size() && Text.at(I + 1).isLowSurrogate()) {
            Out += kDefaultChar;
            ++I;
            continue;
        }
        Out += ByteOf(C.unicode());
    }
    return Out;
}

QString TextFromAnsi(std::string_view Bytes) {
    QString Out;
    Out.reserve(static_cast<qsizetype>(Bytes.size()));
    for (char B : Bytes) {
        const auto U = static_cast<uint8_t>(B);
        Out += QChar(U >= 0x80 && U < 0xA0 ? kHigh[U - 0x80] : static_cast<char16_t>(U));
    }
    return Out;
}

} // namespace zelvo
