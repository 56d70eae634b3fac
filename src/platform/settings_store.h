// The per-user settings store: named values of two kinds, string and 32-bit number, kept in a
// plain text file under $XDG_CONFIG_HOME/Lumivane/ (by default ~/.config/Lumivane/).
//
// Every value keeps its type, so a reader can refuse a value of the wrong kind exactly as it
// would refuse an out-of-range one. The file is one value per line:
//
//     Name = sz:"text"           a string (C-style escapes: \\ \" \n \r \t \xHH)
//     Name = expand_sz:"text"    a string kept as written (nothing is expanded)
//     Name = dword:1234          a 32-bit unsigned number, decimal or 0x-hexadecimal
//
// Blank lines and lines starting with '#' are ignored. A line that does not parse is skipped on
// its own, so a hand-edited or damaged file loses only the values it damages. Names compare
// without regard to ASCII case; when a name appears twice the later line wins.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Value types keep the numbers their readers know them by.
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_DWORD = 4;

struct StoredValue {
    uint32_t type = REG_DWORD;
    std::string text;     // REG_SZ and REG_EXPAND_SZ
    uint32_t number = 0;  // REG_DWORD
};

class SettingsStore {
public:
    // A store kept in the file at path.
    explicit SettingsStore(std::string path);

    // Reads the file. Returns 0, or the errno of the failure (ENOENT when no store exists yet).
    // On failure the store holds no values.
    int Open();

    // The value of that name, or nothing when it is absent.
    std::optional<StoredValue> Query(const std::string& name) const;

    // False, storing nothing, for a name the file cannot hold: empty, with a control
    // character or '=', starting with '#', or with space at either end.
    bool SetString(const std::string& name, const std::string& text);
    bool SetNumber(const std::string& name, uint32_t number);

    // Writes every value to a temporary file beside the store and renames it over the store,
    // so a crash never leaves half a file. Creates the folder if needed. Returns 0 or errno.
    int Commit() const;

    const std::string& Path() const { return path_; }

private:
    struct Entry {
        std::string name;
        StoredValue value;
    };

    // Position of the entry of that name; entries_.size() when there is none.
    size_t IndexOf(const std::string& name) const;
    bool Set(const std::string& name, StoredValue value);

    std::string path_;
    std::vector<Entry> entries_;  // in file order; new names are appended
};

// The user's home folder: $HOME, else the password database's entry; empty when neither.
std::string UserHomeDirectory();
// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config; empty without a home.
std::string UserConfigDirectory();

// The application's store file: UserConfigDirectory() + "/Lumivane/settings.conf"; empty when
// there is no configuration folder.
std::string DefaultSettingsPath();

// Parsing and formatting of single lines, shared by Open and Commit and exposed for tests.
// ParseSettingsLine returns false for a line that holds no value (blank, comment or damaged).
bool ParseSettingsLine(const std::string& line, std::string& name, StoredValue& value);
std::string FormatSettingsLine(const std::string& name, const StoredValue& value);

}  // namespace platform
