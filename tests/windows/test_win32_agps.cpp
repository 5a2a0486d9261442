// The A-GPS download through the Windows fetch backend, against the project's
// A-GPS test server running on the Linux side of Wine. scripts/wine-test.sh
// starts the servers and names them:
//   ZORVIK_AGPS_NORMAL  "http://host:port" of a server in its normal mode;
//   ZORVIK_AGPS_ANSWER  one that answers with whatever ZORVIK_AGPS_ANSWER_FILE
//                       (a Windows path) holds at the time of the request;
//   ZORVIK_AGPS_BROKEN  one that sends half of the body it announced;
//   ZORVIK_AGPS_HANG    one that accepts and never answers.
// Without them the test skips itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ZorvikDll.h"
#include "zorvik/service/agps.h"

namespace {

namespace fs = std::filesystem;
namespace svc = zorvik::service;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A folder of its own per case, removed at the end.
class CaseDir {
  public:
    explicit CaseDir(int n)
        : path_(fs::temp_directory_path() / ("zorvik-agps-" + std::to_string(n))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~CaseDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    CaseDir(const CaseDir&) = delete;
    CaseDir& operator=(const CaseDir&) = delete;
    const fs::path& path() const { return path_; }
    std::size_t FileCount() const {
        std::size_t n = 0;
        for (const auto& entry : fs::directory_iterator(path_))
            n += entry.is_regular_file() ? 1 : 0;
        return n;
    }

  private:
    fs::path path_;
};

class Win32AgpsDownload : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name :
             {"ZORVIK_AGPS_NORMAL", "ZORVIK_AGPS_ANSWER", "ZORVIK_AGPS_ANSWER_FILE",
              "ZORVIK_AGPS_BROKEN", "ZORVIK_AGPS_HANG"}) {
            if (Env(name).empty())
                GTEST_SKIP() << name << " is not set (scripts/wine-test.sh sets it)";
        }
    }
};

// Every way a download can end, each with and without an older file: the
// older file is replaced only by a whole answer of the kind's layout, and no
// temporary file stays behind.
TEST_F(Win32AgpsDownload, OnlyAWholeAnswerOfTheLayoutReplacesTheOlderFile) {
    const fs::path answer_file = Env("ZORVIK_AGPS_ANSWER_FILE");
    // A good broadcast file as the server makes it, fetched once to serve as an answer.
    std::string good_be;
    {
        CaseDir dir(0);
        svc::AgpsDownloadRequest request;
        request.host = Env("ZORVIK_AGPS_NORMAL");
        request.file = (dir.path() / "BE.bin").string();
        ASSERT_EQ(svc::DownloadAgpsFile(request).result, svc::AgpsResult::Ok);
        good_be = ReadBytes(request.file);
        ASSERT_EQ(CheckBE(request.file.c_str()), ZORVIK_EPHEMERIS_OK);
    }
    const std::string html = "<html><body>Service unavailable</body></html>\n";

    struct Case {
        const char* what;
        std::string host;
        std::string answer;  // what the answer server holds, for that server
        int timeout_ms;
        svc::AgpsResult result;
        std::string message;  // with an older file present
    };
    const std::string normal = Env("ZORVIK_AGPS_NORMAL");
    const std::string answering = Env("ZORVIK_AGPS_ANSWER");
    const std::vector<Case> cases = {
        {"the server's own file", normal, "", 0, svc::AgpsResult::Ok, "A-GPS download OK"},
        {"a good file as the answer", answering, good_be, 0, svc::AgpsResult::Ok,
         "A-GPS download OK"},
        {"an error page served with 200", answering, html, 0, svc::AgpsResult::NotEphemeris,
         "BE.bin kept: the answer is not a broadcast ephemeris file (46 bytes, fewer than 2048)"},
        {"more than the kind may be", answering, std::string(svc::kBEFileLimit + 1, 'x'), 0,
         svc::AgpsResult::TooLarge,
         "A-GPS download failed: the answer is larger than the file may be"},
        {"an empty answer", answering, "", 0, svc::AgpsResult::Empty,
         "A-GPS download failed: the server sent no data"},
        {"half of the announced body", Env("ZORVIK_AGPS_BROKEN"), "", 0,
         svc::AgpsResult::NetworkError, "A-GPS download failed: no valid answer from the server"},
        {"a server that never answers", Env("ZORVIK_AGPS_HANG"), "", 1500,
         svc::AgpsResult::TimedOut, "A-GPS download failed: the server did not answer in time"},
        {"nothing listening", "http://127.0.0.1:1", "", 0, svc::AgpsResult::NetworkError,
         "A-GPS download failed: no valid answer from the server"},
    };
    const std::string older = "older";
    int n = 0;
    for (const Case& c : cases) {
        for (const bool older_present : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (older_present ? ", older file" : ", no file"));
            CaseDir dir(++n);
            svc::AgpsDownloadRequest request;
            request.host = c.host;
            request.file = (dir.path() / "BE.bin").string();
            if (c.timeout_ms > 0) request.timeout_ms = c.timeout_ms;
            if (older_present) WriteBytes(request.file, older);
            if (c.host == answering) WriteBytes(answer_file, c.answer);

            const svc::AgpsDownloadOutcome outcome = svc::DownloadAgpsFile(request);
            const bool ok = c.result == svc::AgpsResult::Ok;
            EXPECT_EQ(outcome.result, c.result);
            if (older_present) {
                EXPECT_EQ(outcome.message, c.message);
            }
            if (ok) {
                EXPECT_EQ(CheckBE(request.file.c_str()), ZORVIK_EPHEMERIS_OK);
                if (!c.answer.empty()) {
                    EXPECT_EQ(ReadBytes(request.file), c.answer);
                }
            } else if (older_present) {
                EXPECT_EQ(ReadBytes(request.file), older);
            }
            EXPECT_EQ(dir.FileCount(), ok || older_present ? 1u : 0u);
        }
    }
}

}  // namespace
