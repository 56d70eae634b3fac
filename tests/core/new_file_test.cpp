// Creating an output file anew never writes through what stands under its name.
#include "core/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "encoder_test_support.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(CreateNewFile, ReplacesOnlyARegularFileAndRefusesEverythingElse) {
    encoder_test::TempDir dir;
    const std::string precious = dir.File("precious.bin");
    const struct {
        const char* name;
        std::function<void(const std::string&)> place;  // what stands under the name before
        int error;                                      // 0: created
    } cases[] = {
        {"nothing", [](const std::string&) {}, 0},
        // Truncating the old file would cut the other name short as well.
        {"a hard link to a file", [&](const std::string& path) { fs::create_hard_link(precious, path); }, 0},
        {"a link to a file", [&](const std::string& path) { fs::create_symlink(precious, path); }, ELOOP},
        {"a link to nothing",
         [&](const std::string& path) { fs::create_symlink(dir.File("nowhere"), path); }, ELOOP},
        {"a folder", [](const std::string& path) { fs::create_directory(path); }, EISDIR},
        {"a named pipe", [](const std::string& path) { ::mkfifo(path.c_str(), 0600); }, EEXIST},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(precious, std::ios::binary) << "keep me";
        const std::string path = dir.File(std::string(c.name) + ".out");
        c.place(path);
        const fs::file_type before = fs::symlink_status(path).type();

        errno = 0;
        const int fd = core::CreateNewFile(path);
        const int error = fd < 0 ? errno : 0;
        EXPECT_EQ(error, c.error) << std::strerror(error);
        if (fd >= 0) {
            EXPECT_EQ(::write(fd, "new", 3), 3);
            ::close(fd);
            EXPECT_EQ(ReadText(path), "new");
        } else {
            EXPECT_EQ(fs::symlink_status(path).type(), before);  // refused, and left as it was
        }
        EXPECT_EQ(ReadText(precious), "keep me");
        EXPECT_FALSE(fs::exists(dir.File("nowhere")));
    }
}

}  // namespace
