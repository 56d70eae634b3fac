#include "author/settings_file.h"

#include <cstdlib>
#include <fstream>

namespace author {

namespace {
constexpr const char* kUserSettingsFile = "/.discforgerc";
constexpr const char* kSystemSettingsFile = "/discforge.conf";
}  // namespace

std::optional<std::string> read_setting_file(const char* file_name, const char* key) {
    std::ifstream file(file_name);
    if (!file) return std::nullopt;
    std::string line;
    while (std::getline(file, line)) {
        // A line without "=" holds no setting.
        const std::string::size_type equals = line.find('=');
        if (equals == std::string::npos) continue;
        if (line.compare(0, equals, key) != 0 || equals != std::char_traits<char>::length(key))
            continue;
        // A file saved with CR LF line ends must not leave a CR in a directory name.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line.substr(equals + 1);
    }
    return std::nullopt;
}

std::optional<std::string> get_setting(const char* key) {
    if (const char* home = std::getenv("HOME")) {
        const std::string user_file = std::string(home) + kUserSettingsFile;
        if (auto value = read_setting_file(user_file.c_str(), key)) return value;
    }
    return read_setting_file(kSystemSettingsFile, key);
}

}  // namespace author
