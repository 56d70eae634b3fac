// Opening the engine's inputs: files, commands, standard input and descriptors.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "author/diagnostics.h"
#include "author/input_open.h"
#include "author/model.h"
#include "front_test_support.h"

using namespace author;
using front_test::TempDir;

namespace {

std::string read_all(std::FILE* file) {
    std::string text;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    return text;
}

TEST(InputOpen, CommandOutputIsRead) {
    InputStream input = open_input("printf 'one two'|");
    EXPECT_EQ(input.kind(), kInputPipe);
    EXPECT_EQ(input.name(), "printf 'one two'");
    EXPECT_EQ(read_all(input.file()), "one two");
    EXPECT_EQ(input.close(), 0);
    InputStream quoted = open_input("X=\"a b\"; printf '%s|' \"$X\" 'c\"d'|");
    EXPECT_EQ(read_all(quoted.file()), "a b|c\"d|");
    InputStream spaced = open_input("printf x  |");
    EXPECT_EQ(spaced.name(), "printf x");
    EXPECT_EQ(read_all(spaced.file()), "x");
    InputStream failing = open_input("exit 3|");
    read_all(failing.file());
    EXPECT_NE(failing.close(), 0) << "a failed command must be visible to the caller";
}

TEST(InputOpen, FilesDescriptorsAndStandardInput) {
    TempDir dir;
    const std::string path = dir.file("in.vob", "data");
    engine_reset(nullptr, nullptr);
    engine().scan.read_position = 4096;
    engine().scan.sector_counter = 9;
    {
        InputStream file = open_input(path.c_str());
        EXPECT_EQ(file.kind(), kInputFile);
        EXPECT_EQ(read_all(file.file()), "data");
        EXPECT_EQ(engine().scan.read_position, 0);
        EXPECT_EQ(engine().scan.sector_counter, 0);
    }
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    InputStream descriptor = open_input(("&" + std::to_string(fd)).c_str());
    EXPECT_EQ(descriptor.kind(), kInputFile);
    EXPECT_EQ(read_all(descriptor.file()), "data");
    EXPECT_EQ(descriptor.close(), 0);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "closing the input closes the descriptor";

    InputStream standard = open_input("-");
    EXPECT_EQ(standard.kind(), kInputStdin);
    EXPECT_EQ(standard.file(), stdin);
    EXPECT_EQ(standard.close(), 0);
    EXPECT_NE(::fcntl(STDIN_FILENO, F_GETFD), -1) << "standard input stays open";
}

TEST(InputOpen, FailureNamesTheInput) {
    TempDir dir;
    testing::internal::CaptureStderr();
    EXPECT_THROW(open_input((dir.path() + "/none.vob").c_str()), FatalError);
    EXPECT_THROW(open_input("&999"), FatalError);
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find("ERR:  Error opening " + dir.path() + "/none.vob: No such file or directory\n"),
              std::string::npos);
    EXPECT_NE(messages.find("ERR:  Error opening &999: Bad file descriptor\n"), std::string::npos);
}

}  // namespace
