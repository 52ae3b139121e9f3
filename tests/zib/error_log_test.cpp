#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "base/exception.hpp"
#include "zib/error_log.hpp"

// Creating with the byte order mark and appending without a second one are
// tried through the real program (tests/program); here, the failures.

TEST(Error_Log, FailuresAreCreateAndWriteErrors) {
    auto failure = [](auto action) -> std::string {
        try {
            action();
        } catch (const base::Exception& e) {
            return std::string(e.type_name()) + ": " + e.message();
        }
        return "no error";
    };
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto missing = std::filesystem::temp_directory_path() / ("brindlemoor-missing-" + std::to_string(stamp));
    const std::string name = (missing / "error.log").string();
    EXPECT_EQ(failure([&] { zib::open_error_log(name); }), "CreateError: unable to create file '" + name + "'");
    if (!std::filesystem::exists("/dev/full")) return;  // a device that is always full, where there is one
    EXPECT_EQ(failure([] { zib::open_error_log("/dev/full")->printf("%s\r\n", "lost"); }),
              "WriteError: unable to write to stream");
}
