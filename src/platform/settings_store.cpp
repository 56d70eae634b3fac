#include "platform/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform {

namespace {

// A settings file is a few hundred bytes; anything past this is damage, not settings.
constexpr size_t kMaxStoreBytes = 1 << 20;

constexpr const char* kStringTag = "sz:";
constexpr const char* kExpandStringTag = "expand_sz:";
constexpr const char* kNumberTag = "dword:";

constexpr const char* kFileHeader =
    "# Lumivane settings. One value per line: Name = sz:\"text\", expand_sz:\"text\" or "
    "dword:number\n";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsValidName(const std::string& name) {
    if (name.empty() || name[0] == '#') return false;
    if (IsBlank(name.front()) || IsBlank(name.back())) return false;
    for (unsigned char c : name)
        if (IsControl(c) || c == '=') return false;
    return true;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted string with escapes; nothing but blanks may follow the closing quote. A NUL
// byte is refused: the readers treat strings as C strings and would silently cut them.
bool ParseQuoted(const std::string& text, std::string& out) {
    if (text.empty() || text[0] != '"') return false;
    out.clear();
    size_t i = 1;
    for (;; ++i) {
        if (i >= text.size()) return false;  // no closing quote
        const char c = text[i];
        if (c == '"') break;
        if (c == '\\') {
            if (++i >= text.size()) return false;
            switch (text[i]) {
                case '\\': out += '\\'; break;
                case '"': out += '"'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'x': {
                    if (i + 2 >= text.size()) return false;
                    const int high = HexDigit(text[i + 1]);
                    const int low = HexDigit(text[i + 2]);
                    if (high < 0 || low < 0 || (high == 0 && low == 0)) return false;
                    out += static_cast<char>(high * 16 + low);
                    i += 2;
                    break;
                }
                default: return false;
            }
        } else if (IsControl(static_cast<unsigned char>(c)) && c != '\t') {
            return false;
        } else {
            out += c;
        }
    }
    return Trim(text.substr(i + 1)).empty();
}

bool ParseNumber(const std::string& text, uint32_t& out) {
    const std::string digits = Trim(text);
    const bool hex = StartsWith(digits, "0x") || StartsWith(digits, "0X");
    const size_t first = hex ? 2 : 0;
    if (digits.size() <= first) return false;
    uint64_t value = 0;
    for (size_t i = first; i < digits.size(); ++i) {
        const int digit = HexDigit(digits[i]);
        if (digit < 0 || (!hex && digit > 9)) return false;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > UINT32_MAX) return false;
    }
    out = static_cast<uint32_t>(value);
    return true;
}

std::string Quote(const std::string& text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (IsControl(c)) {
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

// Reads at most kMaxStoreBytes of the file; a line the limit cuts is dropped, so that it is
// not read as a shorter value. Returns 0 or errno.
int ReadFileText(const std::string& path, std::string& text) {
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    char buffer[4096];
    while (text.size() < kMaxStoreBytes) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    if (text.size() >= kMaxStoreBytes) {
        text.resize(kMaxStoreBytes);
        const size_t lastLineEnd = text.find_last_of('\n');
        text.resize(lastLineEnd == std::string::npos ? 0 : lastLineEnd + 1);
    }
    return 0;
}

int WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<size_t>(wrote);
    }
    return 0;
}

std::string ParentDirectory(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ParseSettingsLine(const std::string& rawLine, std::string& name, StoredValue& value) {
    std::string line = rawLine;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') return false;
    const size_t equals = trimmed.find('=');
    if (equals == std::string::npos) return false;
    name = Trim(trimmed.substr(0, equals));
    if (!IsValidName(name)) return false;
    const std::string data = Trim(trimmed.substr(equals + 1));

    StoredValue parsed;
    if (StartsWith(data, kNumberTag)) {
        parsed.type = REG_DWORD;
        if (!ParseNumber(data.substr(std::char_traits<char>::length(kNumberTag)), parsed.number))
            return false;
    } else if (StartsWith(data, kStringTag)) {
        parsed.type = REG_SZ;
        if (!ParseQuoted(data.substr(std::char_traits<char>::length(kStringTag)), parsed.text))
            return false;
    } else if (StartsWith(data, kExpandStringTag)) {
        parsed.type = REG_EXPAND_SZ;
        if (!ParseQuoted(data.substr(std::char_traits<char>::length(kExpandStringTag)),
                         parsed.text))
            return false;
    } else {
        return false;
    }
    value = std::move(parsed);
    return true;
}

std::string FormatSettingsLine(const std::string& name, const StoredValue& value) {
    switch (value.type) {
        case REG_SZ: return name + " = " + kStringTag + Quote(value.text) + "\n";
        case REG_EXPAND_SZ: return name + " = " + kExpandStringTag + Quote(value.text) + "\n";
        default: return name + " = " + kNumberTag + std::to_string(value.number) + "\n";
    }
}

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

int SettingsStore::Open() {
    entries_.clear();
    if (path_.empty()) return ENOENT;
    std::string text;
    if (const int error = ReadFileText(path_, text)) return error;

    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string name;
        StoredValue value;
        if (ParseSettingsLine(text.substr(start, end - start), name, value)) Set(name, value);
        start = end + 1;
    }
    return 0;
}

size_t SettingsStore::IndexOf(const std::string& name) const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (strcasecmp(entries_[i].name.c_str(), name.c_str()) == 0) return i;
    return entries_.size();
}

std::optional<StoredValue> SettingsStore::Query(const std::string& name) const {
    const size_t index = IndexOf(name);
    if (index == entries_.size()) return std::nullopt;
    return entries_[index].value;
}

bool SettingsStore::Set(const std::string& name, StoredValue value) {
    if (!IsValidName(name)) return false;
    const size_t index = IndexOf(name);
    if (index == entries_.size())
        entries_.push_back({name, std::move(value)});
    else
        entries_[index] = {name, std::move(value)};
    return true;
}

bool SettingsStore::SetString(const std::string& name, const std::string& text) {
    StoredValue value;
    value.type = REG_SZ;
    value.text = text;
    return Set(name, std::move(value));
}

bool SettingsStore::SetNumber(const std::string& name, uint32_t number) {
    StoredValue value;
    value.type = REG_DWORD;
    value.number = number;
    return Set(name, std::move(value));
}

int SettingsStore::Commit() const {
    if (path_.empty()) return ENOENT;
    const std::string folder = ParentDirectory(path_);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return ec.value();

    std::string text = kFileHeader;
    for (const Entry& entry : entries_) text += FormatSettingsLine(entry.name, entry.value);

    std::string temporary = path_ + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return errno;
    int error = WriteAll(fd, text);
    if (!error && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error && ::rename(temporary.c_str(), path_.c_str()) != 0) error = errno;
    if (error) ::unlink(temporary.c_str());
    return error;
}

std::string UserHomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    return {};
}

std::string UserConfigDirectory() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return config;
    const std::string home = UserHomeDirectory();
    return home.empty() ? std::string() : home + "/.config";
}

std::string DefaultSettingsPath() {
    const std::string config = UserConfigDirectory();
    return config.empty() ? std::string() : config + "/Lumivane/settings.conf";
}

}  // namespace platform
