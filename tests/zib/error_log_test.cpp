#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/exception.hpp"
#include "zib/error_log.hpp"

// A new log starts with the byte order mark; a later run appends without a
// second one. A log that cannot be made or written fails with its own error.
TEST(Error_Log, AppendsAfterOneByteOrderMarkAndFailsAsCreateOrWriteError) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto path = std::filesystem::temp_directory_path() / ("brindlemoor-log-" + std::to_string(stamp));
    for (const char* line : {"one", "two"}) zib::open_error_log(path.string())->printf("%s\r\n", line);
    const std::string text = [&] {  // closed before the removal: Windows keeps an open file
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    std::filesystem::remove(path);
    EXPECT_EQ(text, "\xEF\xBB\xBFone\r\ntwo\r\n");

    EXPECT_THROW(zib::open_error_log((path / "error.log").string()), base::Create_Error);  // in no folder
    if (!std::filesystem::exists("/dev/full")) return;  // a device that is always full, where there is one
    EXPECT_THROW(zib::open_error_log("/dev/full")->printf("%s\r\n", "lost"), base::Write_Error);
}
