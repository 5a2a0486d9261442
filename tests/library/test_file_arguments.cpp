// Every export that takes a file name refuses what is not a regular file at
// once, with its result for a file that cannot be opened: a FIFO without a
// writer would otherwise block the caller for good.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>

#include "ZorvikDll.h"
#include "temp_dir.h"

namespace {

using zorvik::test::TempDir;

TEST(FileArguments, AnythingButARegularFileIsRefusedAtOnce) {
    TempDir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string link_to_fifo = dir / "link";
    ASSERT_EQ(::symlink(fifo.c_str(), link_to_fifo.c_str()), 0);

    const struct {
        const char* function;
        std::function<int(const char*)> call;
        int refused;
    } functions[] = {
        {"Xmodem_1K", Xmodem_1K, ZORVIK_XMODEM_FILE_CANNOT_OPEN},
        {"UpdateBE", UpdateBE, 0},
        {"UpdateLTE", UpdateLTE, 0},
        {"CheckBE", CheckBE, ZORVIK_EPHEMERIS_CANNOT_OPEN},
        {"CheckLTE", CheckLTE, ZORVIK_EPHEMERIS_CANNOT_OPEN},
        {"CheckBENow", CheckBENow, ZORVIK_EPHEMERIS_CANNOT_OPEN},
        {"CheckLTENow", CheckLTENow, ZORVIK_EPHEMERIS_CANNOT_OPEN},
    };
    const std::string names[] = {fifo, link_to_fifo, dir.path(), "/dev/null", "/dev/zero"};
    for (const auto& f : functions) {
        for (const std::string& name : names) {
            SCOPED_TRACE(std::string(f.function) + " " + name);
            auto result = std::async(std::launch::async, [&] { return f.call(name.c_str()); });
            if (result.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
                ADD_FAILURE() << "blocked";
                // Release the blocked open so that the test can end.
                const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                if (writer >= 0) ::close(writer);
            }
            EXPECT_EQ(result.get(), f.refused);
        }
    }
}

}  // namespace
