// Defaults from small KEY=value text files: the per-user "$HOME/.discforgerc", then the
// system-wide "/discforge.conf".
#pragma once

#include <optional>
#include <string>

namespace author {

// The key's value from the first file that has it.
std::optional<std::string> get_setting(const char* key);
// The key's value in one file: the first matching line wins; none when the file cannot be read
// or lacks the key.
std::optional<std::string> read_setting_file(const char* file_name, const char* key);

}  // namespace author
