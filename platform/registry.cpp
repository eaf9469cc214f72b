#include "platform/registry.h"

#include <QFile>
#include <QList>
#include <QStringList>
#include <QStringTokenizer>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <unordered_map>

#include "files/bounded_read.h"
#include "files/file_replacement.h"
#include "files/lock_file.h"

// The store is one INI-like text file: a section per key, named by the key's
// path without the leading separator ("[Software\Quorvin\Zelvo]"), and a line
// "Name=decimal" per value. Key and value names compare without regard to case,
// as registry names do. The file is read again for every operation (in time
// linear in its length), so that several TRegistry objects (and several
// running programs) see the same data, and it is replaced as a whole through
// TFileReplacement. A file of 1 MiB or more is neither read nor replaced, and
// a change that would make the file that large is refused: the store never
// writes what it could not read back. A change is made under the lock of
// "Zelvo.ini.lock" beside it, a file that only its owner can open, on the
// file as it stands then, so that programs writing at once lose none of each
// other's values and nobody else can hold a change up; where the file system
// keeps no locks, it is made without (and one of two changes at once may be
// lost). Paths are kept as
// the bytes the system gives: a folder whose name is not UTF-8 is still found.

namespace zelvo {
namespace {

const char* const FileName = "Zelvo.ini";
// A file this large or larger is no file of ours; it is then never replaced,
// and no change that would make the file this large is saved.
constexpr size_t kMaxStoreSize = 1 << 20;

std::string& StorageFolderOverride() {
    static std::string Folder;
    return Folder;
}

// The XDG configuration folder: $XDG_CONFIG_HOME where it is an absolute
// path, else ~/.config.
std::string ConfigHome() {
    const char* Xdg = std::getenv("XDG_CONFIG_HOME");
    if (Xdg && Xdg[0] == '/')
        return Xdg;
    const char* Home = std::getenv("HOME");
    std::string H = Home && Home[0] ? Home : "";
    if (H.empty())
        if (const passwd* Pw = ::getpwuid(::geteuid()); Pw && Pw->pw_dir)
            H = Pw->pw_dir;
    if (H.empty())
        H = "/";
    return H + (H.back() == '/' ? "" : "/") + ".config";
}

std::string StorageFolderBytes() {
    return StorageFolderOverride().empty() ? ConfigHome() + "/Quorvin" : StorageFolderOverride();
}

// The folder and its parents; true when it stands as a folder afterwards. A
// path made from a std::string keeps its bytes, UTF-8 or not.
bool MakeFolders(const std::string& Folder) {
    std::error_code Ec;
    std::filesystem::create_directories(Folder, Ec);
    return std::filesystem::is_directory(Folder, Ec);
}

struct TValue {
    QString Name;
    QString Text;
};

struct TSection {
    QString Key;  // normalised path, e.g. "Software\Quorvin\Zelvo"
    QList<TValue> Values;
};

struct TDocument {
    bool Readable = true;  // false: the file exists but could not be read
    QList<TSection> Sections;
};

std::string StoreFilePath() {
    const std::string Folder = StorageFolderBytes();
    return Folder + (!Folder.empty() && Folder.back() == '/' ? "" : "/") + FileName;
}

// "\Software\\Quorvin\" and "Software\Quorvin" name the same key.
QString NormaliseKey(const QString& Path) {
    return Path.split(QLatin1Char('\\'), Qt::SkipEmptyParts).join(QLatin1Char('\\'));
}

bool SameName(const QString& A, const QString& B) { return A.compare(B, Qt::CaseInsensitive) == 0; }

// A name as SameName sees it, appended to Folded: each UTF-16 unit folded on
// its own, a low surrogate together with the high one before it. Two names are
// the same exactly when these are equal.
std::u32string FoldedName(QStringView Name, std::u32string Folded = {}) {
    Folded.reserve(Folded.size() + static_cast<size_t>(Name.size()));
    char32_t Last = 0;
    for (const QChar C : Name) {
        char32_t U = C.unicode();
        if (QChar::isLowSurrogate(U) && QChar::isHighSurrogate(Last))
            U = QChar::surrogateToUcs4(static_cast<char16_t>(Last), static_cast<char16_t>(U));
        Last = C.unicode();
        Folded += QChar::toCaseFolded(U);
    }
    return Folded;
}

// A name that is there already (in any letter case) takes the new text.
void SetValue(TSection& S, const QString& Name, const QString& Text) {
    bool Replaced = false;
    for (TValue& V : S.Values)
        if (SameName(V.Name, Name)) {
            V.Text = Text;
            Replaced = true;
        }
    if (!Replaced)
        S.Values.append(TValue{Name, Text});
}

// Places in the document by folded name. With them a file is read in time
// linear in its length: a second program waits for the lock meanwhile.
using TIndex = std::unordered_map<std::u32string, qsizetype>;

TDocument LoadDocument() {
    TDocument Doc;
    const TFileTarget Target = ResolveFileTarget(StoreFilePath());
    if (Target.Error || Target.Kind == TFileKind::fkDirectory) {
        Doc.Readable = false;
        return Doc;
    }
    // A device or a FIFO holds no settings to read (a FIFO would wait for a
    // writer); the writes go into it.
    if (Target.Kind != TFileKind::fkRegular)
        return Doc;
    const TFileHead Head = ReadFileHead(Target.Path, kMaxStoreSize);
    if (Head.Regular && Head.OpenError == ENOENT)
        return Doc;  // gone since it was looked at
    if (!Head.Regular || Head.OpenError || Head.ReadError || Head.Bytes.size() >= kMaxStoreSize) {
        Doc.Readable = false;
        return Doc;
    }
    const QString Text =
        QString::fromUtf8(reinterpret_cast<const char*>(Head.Bytes.data()), static_cast<qsizetype>(Head.Bytes.size()));
    // A value is found by its section's place followed by its folded name: one
    // index for all sections, as a file may hold a great many of them. A name
    // that comes again keeps its first place and spelling and takes the new
    // text, as SetValue does.
    TIndex SectionAt, ValueAt;
    const auto Lines = static_cast<size_t>(Text.count(u'\n')) + 1;
    SectionAt.reserve(Lines);
    ValueAt.reserve(Lines);
    qsizetype Current = -1;
    for (const QStringView RawLine : qTokenize(Text, u'\n')) {
        const QStringView Line = RawLine.trimmed();
        if (Line.isEmpty() || Line.startsWith(u';') || Line.startsWith(u'#'))
            continue;
        if (Line.startsWith(u'[') && Line.endsWith(u']')) {
            const QString Key = NormaliseKey(Line.mid(1, Line.size() - 2).toString());
            const auto [It, New] = SectionAt.try_emplace(FoldedName(Key), Doc.Sections.size());
            if (New)
                Doc.Sections.append(TSection{Key, {}});
            Current = It->second;
            continue;
        }
        const qsizetype Eq = Line.indexOf(u'=');
        if (Current < 0 || Eq <= 0)
            continue;  // a line outside any key, or without a name: not ours
        TSection& S = Doc.Sections[Current];
        const QStringView Name = Line.left(Eq).trimmed();
        const auto [It, New] =
            ValueAt.try_emplace(FoldedName(Name, std::u32string(1, static_cast<char32_t>(Current))), S.Values.size());
        if (New)
            S.Values.append(TValue{Name.toString(), Line.mid(Eq + 1).trimmed().toString()});
        else
            S.Values[It->second].Text = Line.mid(Eq + 1).trimmed().toString();
    }
    return Doc;
}

bool SaveDocument(const TDocument& Doc) {
    QByteArray Data;
    for (const TSection& S : Doc.Sections) {
        if (!Data.isEmpty())
            Data += '\n';
        Data += '[' + S.Key.toUtf8() + "]\n";
        for (const TValue& V : S.Values)
            Data += V.Name.toUtf8() + '=' + V.Text.toUtf8() + '\n';
    }
    // A file this large would never be read again: every setting would be lost.
    if (static_cast<size_t>(Data.size()) >= kMaxStoreSize)
        return false;
    TFileReplacement File(StoreFilePath());
    return File.Write(Data.constData(), static_cast<size_t>(Data.size())) && File.Commit();
}

// Changes the file as it stands under the lock: Change alters the document
// read afresh and answers whether there is anything to save.
template <class F>
bool ChangeDocument(F Change) {
    const std::string Folder = StorageFolderBytes();
    if (!MakeFolders(Folder))
        return false;
    const TLockFile Lock(StoreFilePath() + ".lock");
    // Where the file system keeps no locks the change is made without, as it
    // was before there was a lock: two programs writing at once may then lose
    // one's change, which beats saving nothing at all.
    if (!Lock.Held() && !Lock.Unsupported())
        return false;
    TDocument Doc = LoadDocument();
    // A file that exists but cannot be read is never replaced: that would lose it.
    if (!Doc.Readable)
        return false;
    return !Change(Doc) || SaveDocument(Doc);
}

TSection* FindSection(TDocument& Doc, const QString& Key) {
    for (TSection& S : Doc.Sections)
        if (SameName(S.Key, Key))
            return &S;
    return nullptr;
}

// A key exists when it has a section of its own or is the parent of one; the
// root always exists.
bool KeyExistsIn(const TDocument& Doc, const QString& Key) {
    if (Key.isEmpty())
        return true;
    const QString Prefix = Key + QLatin1Char('\\');
    for (const TSection& S : Doc.Sections)
        if (SameName(S.Key, Key) || S.Key.startsWith(Prefix, Qt::CaseInsensitive))
            return true;
    return false;
}

const TValue* FindValue(TDocument& Doc, const QString& Key, const QString& Name) {
    TSection* S = FindSection(Doc, Key);
    if (!S)
        return nullptr;
    for (const TValue& V : S->Values)
        if (SameName(V.Name, Name))
            return &V;
    return nullptr;
}

// Names that the file format could not give back unchanged.
bool StorableName(const QString& Name) {
    return !Name.isEmpty() && Name == Name.trimmed() && !Name.contains(QLatin1Char('=')) &&
           !Name.contains(QLatin1Char('\n')) && !Name.contains(QLatin1Char('\r')) &&
           !Name.startsWith(QLatin1Char('[')) && !Name.startsWith(QLatin1Char(';')) &&
           !Name.startsWith(QLatin1Char('#'));
}

ERegistryException RegistryError(const char* Format, const QString& Name) {
    return ERegistryException(QString::fromLatin1(Format).arg(Name).toStdString());
}

} // namespace

TRegistry::TRegistry() = default;

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetStorageFolder(const QString& Folder) {
    StorageFolderOverride() = QFile::encodeName(Folder).toStdString();
}

// Per user: a desktop user cannot write settings for the whole machine.
QString TRegistry::StorageFolder() { return QFile::decodeName(StorageFolderBytes().c_str()); }

// A path with a leading separator starts at the root; any other is relative to
// the open key.
static QString ResolveKey(const QString& Key, bool KeyOpen, const QString& CurrentKey) {
    if (Key.startsWith(QLatin1Char('\\')) || !KeyOpen)
        return NormaliseKey(Key);
    return NormaliseKey(CurrentKey + QLatin1Char('\\') + Key);
}

bool TRegistry::KeyExists(const QString& Key) {
    const TDocument Doc = LoadDocument();
    return Doc.Readable && KeyExistsIn(Doc, ResolveKey(Key, FKeyOpen, FCurrentKey));
}

bool TRegistry::OpenKey(const QString& Key, bool CanCreate) {
    const QString Path = ResolveKey(Key, FKeyOpen, FCurrentKey);
    CloseKey();
    const TDocument Doc = LoadDocument();
    // A file that exists but cannot be read is never replaced: that would lose it.
    if (!Doc.Readable)
        return false;
    if (!KeyExistsIn(Doc, Path)) {
        if (!CanCreate)
            return false;
        // another program may have made it meanwhile
        if (!ChangeDocument([&](TDocument& Now) {
                if (KeyExistsIn(Now, Path))
                    return false;
                Now.Sections.append(TSection{Path, {}});
                return true;
            }))
            return false;
    }
    FCurrentKey = Path;
    FKeyOpen = true;
    return true;
}

void TRegistry::CloseKey() {
    FCurrentKey.clear();
    FKeyOpen = false;
}

bool TRegistry::ValueExists(const QString& Name) {
    if (!FKeyOpen)
        return false;
    TDocument Doc = LoadDocument();
    return Doc.Readable && FindValue(Doc, FCurrentKey, Name) != nullptr;
}

int32_t TRegistry::ReadInteger(const QString& Name) {
    if (!FKeyOpen)
        throw RegistryError("Failed to get data for '%1'", Name);
    TDocument Doc = LoadDocument();
    const TValue* V = Doc.Readable ? FindValue(Doc, FCurrentKey, Name) : nullptr;
    if (!V)
        throw RegistryError("Failed to get data for '%1'", Name);
    bool Ok = false;
    const int32_t Result = V->Text.toInt(&Ok, 10);
    if (!Ok)
        throw RegistryError("Invalid data type for '%1'", Name);
    return Result;
}

void TRegistry::WriteInteger(const QString& Name, int32_t Value) {
    if (!FKeyOpen || !StorableName(Name))
        throw RegistryError("Failed to set data for '%1'", Name);
    const QString Text = QString::number(Value);
    const bool Saved = ChangeDocument([&](TDocument& Doc) {
        TSection* S = FindSection(Doc, FCurrentKey);
        if (!S) {
            // Another writer may have dropped the key since it was opened.
            Doc.Sections.append(TSection{FCurrentKey, {}});
            S = &Doc.Sections.last();
        }
        SetValue(*S, Name, Text);
        return true;
    });
    if (!Saved)
        throw RegistryError("Failed to set data for '%1'", Name);
}

} // namespace zelvo
