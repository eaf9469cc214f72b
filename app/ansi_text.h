#pragma once
// Memory names and the preset-file header are 8-bit strings in Windows-1252,
// the ANSI code page the files are written in. A character the code page
// lacks becomes its default character "?".
#include <QString>
#include <string>
#include <string_view>

namespace zelvo {

// One byte per character; a surrogate pair is one character.
std::string AnsiFromText(const QString& Text);
QString TextFromAnsi(std::string_view Bytes);

} // namespace zelvo
