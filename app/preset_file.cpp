#include "app/preset_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <string>

#include "app/ansi_text.h"
#include "app/strings.h"
#include "files/bounded_read.h"
#include "files/file_replacement.h"

namespace zelvo {
namespace {

// The header as the string table gives it, cut to the 20 characters it has.
std::string HeaderBytes() {
    std::string Text = AnsiFromText(str::Q(str::PresetFileHeader));
    if (Text.size() > kPresetHeaderSize - 1)
        Text.resize(kPresetHeaderSize - 1);
    return Text;
}

QString FullPath(const QString& Path) { return QDir::toNativeSeparators(QFileInfo(Path).absoluteFilePath()); }

QString SystemReason(int Errno) { return QString::fromLocal8Bit(std::strerror(Errno)); }

} // namespace

QString FormatS(const QString& Format, std::initializer_list<QString> Args) {
    QString Out;
    auto Next = Args.begin();
    for (qsizetype I = 0; I < Format.size(); ++I) {
        if (Format.at(I) == QLatin1Char('%') && I + 1 < Format.size() && Format.at(I + 1) == QLatin1Char('s') &&
            Next != Args.end()) {
            Out += *Next++;
            ++I;
        } else {
            Out += Format.at(I);
        }
    }
    return Out;
}

std::vector<uint8_t> PresetFileImage(const TMemoryBank& Memories) {
    std::vector<uint8_t> Image(kPresetFileSize, 0);
    const std::string Header = HeaderBytes();
    Image[0] = static_cast<uint8_t>(Header.size());
    std::memcpy(&Image[1], Header.data(), Header.size());
    for (int No = 1; No <= TMemoryBank::kCount; ++No)
        std::memcpy(&Image[kPresetHeaderSize + static_cast<size_t>(No - 1) * sizeof(TMemorySlot)], &Memories[No],
                    sizeof(TMemorySlot));
    return Image;
}

bool ReadPresetImage(const uint8_t* Data, size_t Size, TMemoryBank& Memories) {
    if (Size < kPresetHeaderSize)
        return false;
    // The first 21 bytes as a length-prefixed string, compared as text: the
    // same length and the same characters, letter case included.
    const size_t Length = Data[0];
    if (Length > kPresetHeaderSize - 1)
        return false;
    const QString Text = TextFromAnsi(std::string_view(reinterpret_cast<const char*>(Data + 1), Length));
    if (Text != str::Q(str::PresetFileHeader))
        return false;
    if (Size < kPresetFileSize)
        return false;
    for (int No = 1; No <= TMemoryBank::kCount; ++No)
        std::memcpy(&Memories[No], Data + kPresetHeaderSize + static_cast<size_t>(No - 1) * sizeof(TMemorySlot),
                    sizeof(TMemorySlot));
    return true;
}

std::optional<std::vector<uint8_t>> ReadPresetFile(const std::string& Path) {
    TFileHead Head = ReadFileHead(Path, kPresetFileSize);
    if (Head.OpenError)
        throw EFileError(FormatS(str::Q(str::CannotOpenFile),
                                 {FullPath(QFile::decodeName(Path.c_str())), SystemReason(Head.OpenError)})
                             .toStdString());
    if (Head.ReadError)
        throw EFileError(str::StreamReadError);
    if (!Head.Regular)
        return std::nullopt;
    return std::move(Head.Bytes);
}

void WriteWholeFile(const QString& Path, const std::vector<uint8_t>& Bytes) {
    TFileReplacement F(QFile::encodeName(Path).toStdString());
    if (!F.Ok())
        throw EFileError(
            FormatS(str::Q(str::CannotCreateFile), {FullPath(Path), SystemReason(F.Error())}).toStdString());
    // Unless everything is written and committed, the old file stays as it was.
    if (!F.Write(Bytes.data(), Bytes.size()) || !F.Commit())
        throw EFileError(str::StreamWriteError);
}

} // namespace zelvo
