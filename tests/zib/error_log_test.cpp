#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/exception.hpp"
#include "zib/error_log.hpp"

using zib::open_error_log;

using base::Exception;

namespace {

std::string contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::filesystem::path fresh_directory() {
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    auto dir = std::filesystem::temp_directory_path() / ("brindlemoor-error-log-" + std::to_string(stamp));
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace

TEST(Error_Log, CreatedWithByteOrderMarkThenAppendedWithoutASecond) {
    auto dir = fresh_directory();
    auto name = (dir / "error.log").string();
    {
        auto log = open_error_log(name);
        log->printf("error in response thread #%d %.*s (%.*s)\r\n", 7, 4, "boom", 9, "Exception");
    }
    EXPECT_EQ(contents(name),
              "\xEF\xBB\xBF"
              "error in response thread #7 boom (Exception)\r\n");
    {
        auto log = open_error_log(name);
        log->write_line("second run");
    }
    EXPECT_EQ(contents(name),
              "\xEF\xBB\xBF"
              "error in response thread #7 boom (Exception)\r\nsecond run\r\n");
    std::filesystem::remove_all(dir);
}

TEST(Error_Log, NeitherOpenNorCreateIsACreateError) {
    auto dir = fresh_directory();
    auto name = (dir / "missing" / "error.log").string();
    try {
        open_error_log(name);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.type_name(), "CreateError");
        EXPECT_EQ(e.message(), "unable to create file '" + name + "'");
    }
    std::filesystem::remove_all(dir);
}

TEST(Error_Log, ShortWriteIsAWriteError) {
    // A device that is always full; only where there is one.
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    auto log = open_error_log("/dev/full");
    try {
        log->printf("%s\r\n", "lost");
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.type_name(), "WriteError");
        EXPECT_EQ(e.message(), "unable to write to stream");
    }
}
