// The A-GPS download against the local server and the ephemeris uploads
// against the simulator's VBI input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ZorvikDll.h"
#include "receiver_sim.h"
#include "service_peers.h"
#include "temp_dir.h"
#include "zorvik/service/agps.h"

namespace {

namespace svc = zorvik::service;
using zorvik::test::TempDir;

std::size_t FileCount(const TempDir& dir) {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++n;
    }
    return n;
}

TEST(AgpsDownload, FailureKeepsTheOlderFileAndSuccessReplacesIt) {
    TempDir dir;
    const std::string file = dir / "BE.bin";
    const std::string older = "older file\n" + std::string(3000, 'o');
    std::ofstream(file, std::ios::binary) << older;

    svc::AgpsDownloadRequest request;
    request.kind = svc::AgpsKind::BE;
    request.file = file;
    request.host = "http://127.0.0.1:1";  // nothing listens there
    EXPECT_EQ(svc::DownloadAgpsFile(request).result, svc::AgpsResult::NetworkError);
    EXPECT_EQ(ReadBytes(file), older);
    EXPECT_EQ(FileCount(dir), 1u);

    AgpsServerProcess server;
    request.host = server.address() + "/";
    EXPECT_EQ(svc::DownloadAgpsFile(request).result, svc::AgpsResult::Ok);
    const std::string fetched = ReadBytes(file);
    EXPECT_GE(fetched.size(), 2048u);
    EXPECT_LE(fetched.size(), svc::kBEFileLimit);
    EXPECT_FALSE(BroadcastFramesHex(fetched).empty());
    EXPECT_EQ(FileCount(dir), 1u);
}

// A server that answers 200 with something that is no ephemeris file of the
// kind: the older file stays byte for byte, and the message names it and why.
// A good answer of either kind replaces it.
TEST(AgpsDownload, AnswerWithoutTheLayoutKeepsTheOlderFile) {
    TempDir made;
    const std::string good_be = MadeEphemerisFile("be", made / "be");
    const std::string good_lte = MadeEphemerisFile("lte", made / "lte");
    const std::string html = "<html><body>Service unavailable</body></html>\n";

    std::string long_length = good_be;  // the first frame claims 65535 payload bytes
    long_length.replace(long_length.find("\x81\xff") + 4, 2, "\xff\xff");
    std::string no_sync = good_be;
    std::replace(no_sync.begin(), no_sync.end(), '\x81', '\x80');
    std::string no_count = good_lte;  // the first record's byte count
    no_count.replace(no_count.find('\n') + 1 + 22, 4, "xxxx");

    // Well-formed files the upload would send nothing from now: passed, or ahead.
    constexpr long kFiveHours = 5 * 3600, kDays30 = 30L * 24 * 3600, kLteSpan = 6 * 4 * 3600;
    const std::string expired_be = MadeEphemerisFile("be", made / "old-be", kFiveHours);
    const std::string future_be = MadeEphemerisFile("be", made / "new-be", -kDays30);
    const std::string expired_lte = MadeEphemerisFile("lte", made / "old-lte", kLteSpan + 3600);
    const std::string future_lte = MadeEphemerisFile("lte", made / "new-lte", -kDays30);
    const auto not_now = svc::AgpsResult::NotValidNow;

    struct Answer {
        svc::AgpsKind kind;
        std::string body;
        bool older_present;
        std::string message;  // empty for a good answer
        svc::AgpsResult refused = svc::AgpsResult::NotEphemeris;
    };
    const std::vector<Answer> answers = {
        {svc::AgpsKind::BE, html, true,
         "BE.bin kept: the answer is not a broadcast ephemeris file (46 bytes, fewer than 2048)"},
        {svc::AgpsKind::LTE, html, false,
         "LTE.bin not written: the answer is not a long-term ephemeris file (46 bytes, fewer than "
         "1024)"},
        {svc::AgpsKind::BE, "<!DOCTYPE html>\n" + std::string(3000, ' '), true,
         "BE.bin kept: the answer is not a broadcast ephemeris file (no ten-digit time after its "
         "first line)"},
        {svc::AgpsKind::BE, long_length, true,
         "BE.bin kept: the answer is not a broadcast ephemeris file (a VBI frame too long or cut "
         "short)"},
        {svc::AgpsKind::BE, no_sync, true,
         "BE.bin kept: the answer is not a broadcast ephemeris file (no VBI frame)"},
        {svc::AgpsKind::LTE, good_lte.substr(0, 2000), true,
         "LTE.bin kept: the answer is not a long-term ephemeris file (a record runs past the end)"},
        {svc::AgpsKind::LTE, no_count, true,
         "LTE.bin kept: the answer is not a long-term ephemeris file (a record header without its "
         "time or byte count)"},
        {svc::AgpsKind::BE, expired_be, true,
         "BE.bin kept: the answer is a broadcast ephemeris file not valid now (its four hours "
         "have passed)",
         not_now},
        {svc::AgpsKind::BE, future_be, false,
         "BE.bin not written: the answer is a broadcast ephemeris file not valid now (its four "
         "hours have not begun)",
         not_now},
        {svc::AgpsKind::LTE, expired_lte, true,
         "LTE.bin kept: the answer is a long-term ephemeris file not valid now (every record's "
         "four hours have passed)",
         not_now},
        {svc::AgpsKind::LTE, future_lte, true,
         "LTE.bin kept: the answer is a long-term ephemeris file not valid now (its next "
         "record's four hours have not begun)",
         not_now},
        {svc::AgpsKind::BE, good_be, true, ""},
        {svc::AgpsKind::LTE, good_lte, true, ""},
    };
    const std::string answer = made / "answer";
    const std::string older = "older";
    AgpsServerProcess server("normal", {"--answer", answer});
    for (const Answer& a : answers) {
        SCOPED_TRACE(a.body.size());
        const bool good = a.message.empty();
        TempDir dir;
        svc::AgpsDownloadRequest request;
        request.kind = a.kind;
        request.host = server.address();
        request.file = dir / svc::AgpsLocalFileName(a.kind);
        if (a.older_present) std::ofstream(request.file, std::ios::binary) << older;
        std::ofstream(answer, std::ios::binary) << a.body;

        const svc::AgpsDownloadOutcome outcome = svc::DownloadAgpsFile(request);
        EXPECT_EQ(outcome.result, good ? svc::AgpsResult::Ok : a.refused);
        if (!good) {
            EXPECT_EQ(outcome.message, a.message);
        }
        EXPECT_EQ(ReadBytes(request.file), good ? a.body : a.older_present ? older : "");
        EXPECT_EQ(FileCount(dir), a.older_present || good ? 1u : 0u);
    }
}

TEST(AgpsDownload, HostIsSchemeHostAndPortOnly) {
    const std::vector<std::pair<std::string, bool>> hosts = {
        {"http://127.0.0.1:8089", true},
        {"https://agps.example:443/", true},
        {"http://h/path", false},
        {"http://h?RQ=x", false},
        {"ftp://h", false},
        {"127.0.0.1:8089", false},
        {"http://", false},
        {"http://user@h", false},
    };
    for (const auto& [host, ok] : hosts) EXPECT_EQ(svc::IsAgpsHost(host), ok) << host;
    svc::AgpsDownloadRequest request;
    request.host = "http://127.0.0.1:1/x";
    request.file = "never-written.bin";
    EXPECT_EQ(svc::DownloadAgpsFile(request).result, svc::AgpsResult::BadAddress);
    EXPECT_FALSE(std::filesystem::exists(request.file));
}

// Opens the simulator's port and uploads the file through it; every status
// shown goes to `shown`.
svc::UploadOutcome UploadThrough(const ReceiverSim& sim, svc::AgpsKind kind,
                                 const std::string& file, std::vector<std::string>& shown) {
    const std::intptr_t port = COM_Open(sim.device().c_str(), "9600");
    if (port == 0) {
        ADD_FAILURE() << "cannot open " << sim.device();
        return {};
    }
    svc::UploadHooks hooks;
    hooks.status = [&](const std::string& s) { shown.push_back(s); };
    hooks.await_version_reply = [port](int ms) { return ParsedVersionReply(port, ms); };
    return svc::UploadEphemeris(kind, file, hooks);
}

// Each upload switches the receiver to VBI input once and back once; the
// frames it takes are the file's.
TEST(EphemerisUpload, FramesAreTheFilesAndTheInputAlwaysSwitchesBack) {
    TempDir dir;
    const std::string be = dir / "BE.bin";
    const std::string write_be =
        std::string(ZORVIK_SYSTEM_PYTHON) + " " + ZORVIK_AGPS_SERVER + " --write-be " + be;
    ASSERT_EQ(std::system(write_be.c_str()), 0);

    struct Case {
        svc::AgpsKind kind;
        std::string file;
        svc::UploadResult result;
        std::string message;
        std::vector<std::string> frames;
    };
    const std::vector<Case> cases = {
        {svc::AgpsKind::BE, be, svc::UploadResult::Ok, "BE file update OK!",
         BroadcastFramesHex(ReadBytes(be))},
        {svc::AgpsKind::LTE,
         dir / "LTE.bin",
         svc::UploadResult::NoFile,
         " No LTE file existing!",
         {}},
    };
    for (const Case& c : cases) {
        ReceiverSim sim;
        std::vector<std::string> shown;
        const svc::UploadOutcome outcome = UploadThrough(sim, c.kind, c.file, shown);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.message, c.message);
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back(), c.message);

        ASSERT_TRUE(sim.wait_for_report("\"vbi\",\"state\":\"off\"", 5000));
        std::vector<std::string> frames;
        for (const std::string& line : sim.report_lines())
            if (line.find("\"event\":\"frame\"") != std::string::npos)
                frames.push_back(ReportField(line, "hex"));
        EXPECT_EQ(frames, c.frames) << c.file;
        EXPECT_EQ(sim.count_reports("\"vbi\",\"state\":\"on\""), 1);
        EXPECT_EQ(sim.count_reports("\"vbi\",\"state\":\"off\""), 1);
        COM_Close();
    }
}

// A receiver that takes nothing from the line: the frames fit into the
// port's buffer, so the upload alone cannot tell; the missing answer after
// the switch back does.
TEST(EphemerisUpload, ReceiverThatHeardNothingIsNoSuccess) {
    TempDir dir;
    struct Case {
        svc::AgpsKind kind;
        std::string message;
        std::vector<std::string> shown_last;  // LTE shows its message before the switch back
    };
    const std::vector<Case> cases = {
        {svc::AgpsKind::BE, " BE file update failed!(NG)", {" BE file update failed!(NG)"}},
        {svc::AgpsKind::LTE,
         " LTE file update failed!(NG)",
         {"LTE File update OK!", " LTE file update failed!(NG)"}},
    };
    for (const Case& c : cases) {
        const std::string kind = c.kind == svc::AgpsKind::BE ? "be" : "lte";
        const std::string file = dir / kind;
        MadeEphemerisFile(kind, file);
        ReceiverSim sim({"--fault", "deaf"});
        std::vector<std::string> shown;
        const svc::UploadOutcome outcome = UploadThrough(sim, c.kind, file, shown);
        EXPECT_EQ(outcome.result, svc::UploadResult::NoAnswer);
        EXPECT_EQ(outcome.message, c.message);
        ASSERT_GE(shown.size(), c.shown_last.size());
        EXPECT_EQ(std::vector<std::string>(
                      shown.end() - static_cast<std::ptrdiff_t>(c.shown_last.size()), shown.end()),
                  c.shown_last);
        COM_Close();
    }
}

}  // namespace
