#pragma once
// The settings store that stands where the program keeps its registry values:
// one key, "\Software\Quorvin\Zelvo", holding 32-bit integer values. It lives in
// the user's configuration folder and is written atomically, so a crash while
// writing never loses the settings that were there.
#include <QString>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace zelvo {

// "Failed to set data for '%s'", "Failed to get data for '%s'",
// "Invalid data type for '%s'".
class ERegistryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TRegistry {
public:
    TRegistry();
    ~TRegistry();  // closes the key
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // Where every TRegistry keeps its data; tests point it at a temporary folder.
    // An empty path restores the default: "Quorvin" in the XDG configuration
    // folder, taken as bytes from $XDG_CONFIG_HOME or $HOME.
    static void SetStorageFolder(const QString& Folder);
    static QString StorageFolder();

    bool KeyExists(const QString& Key);
    // Opens Key for reading and writing; creates it when CanCreate. False when the
    // key is missing (and not created) or cannot be opened.
    bool OpenKey(const QString& Key, bool CanCreate);
    void CloseKey();

    bool ValueExists(const QString& Name);
    // Raise ERegistryException with the texts above.
    int32_t ReadInteger(const QString& Name);
    void WriteInteger(const QString& Name, int32_t Value);

private:
    QString FCurrentKey;  // normalised path of the open key
    bool FKeyOpen = false;
};

} // namespace zelvo
