// The receiver state record: snapshots by copy and the done-flag resets.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>

#include "ZorvikDll.h"
#include "zorvik_testing.h"

namespace {

// Fills the library's record with a recognisable byte.
void fill_library_record(unsigned char byte) {
    std::lock_guard lock(zorvik::state_mutex());
    std::memset(&zorvik::state(), byte, sizeof(ParseNMEAInfo));
}

ParseNMEAInfo snapshot() {
    ParseNMEAInfo copy;
    std::memset(&copy, 0xEE, sizeof copy);
    GetParseNMEAInfo(&copy);
    return copy;
}

// Runs first (declaration order): nothing has touched the record yet.
TEST(StateRecord, SnapshotBeforeAnyDataIsAllZero) {
    const ParseNMEAInfo copy = snapshot();
    const ParseNMEAInfo zero{};
    EXPECT_EQ(std::memcmp(&copy, &zero, sizeof copy), 0);
    EXPECT_EQ(copy.fix_mode, 0);
    EXPECT_STREQ(copy.utc_time, "");
    EXPECT_EQ(copy.hdop, 0.0f);
}

TEST(StateRecord, WritesIntoTheCallersCopyStayThere) {
    fill_library_record(0);
    ParseNMEAInfo copy = snapshot();
    copy.parsing = 1;
    copy.restart_begin = 1;
    copy.nmea_sentence = 1;
    std::strcpy(copy.utc_time, "123519");
    copy.sv_prn[3] = 17;

    const ParseNMEAInfo next = snapshot();
    const ParseNMEAInfo zero{};
    EXPECT_EQ(std::memcmp(&next, &zero, sizeof next), 0);
    GetParseNMEAInfo(nullptr);  // harmless
}

TEST(StateRecord, EachResetClearsItsFieldAndNothingElse) {
    const struct {
        const char* name;
        void (*reset)();
        std::size_t offset;
    } resets[] = {
        {"NMEA09_2ndCommmand_done", CMD_Clear_NMEA09_2ndCommmand_done,
         offsetof(ParseNMEAInfo, NMEA09_2ndCommmand_done)},
        {"parse_rmc_done", CMD_Clear_parse_rmc_done, offsetof(ParseNMEAInfo, parse_rmc_done)},
        {"parse_gsv_done", CMD_Clear_parse_gsv_done, offsetof(ParseNMEAInfo, parse_gsv_done)},
        {"parse_gsa_done", CMD_Clear_parse_gsa_done, offsetof(ParseNMEAInfo, parse_gsa_done)},
        {"parse_gga_done", CMD_Clear_parse_gga_done, offsetof(ParseNMEAInfo, parse_gga_done)},
        {"parse_ttff_done", CMD_Clear_parse_ttff_done, offsetof(ParseNMEAInfo, parse_ttff_done)},
        {"restart_begin", CMD_Clear_restart_begin, offsetof(ParseNMEAInfo, restart_begin)},
        {"nmea_sentence", CMD_Clear_nmea_sentence, offsetof(ParseNMEAInfo, nmea_sentence)},
    };
    for (const auto& r : resets) {
        SCOPED_TRACE(r.name);
        fill_library_record(0x5A);
        r.reset();
        const ParseNMEAInfo copy = snapshot();
        const auto* bytes = reinterpret_cast<const unsigned char*>(&copy);
        for (std::size_t i = 0; i < sizeof copy; ++i) {
            const bool in_field = i >= r.offset && i < r.offset + sizeof(std::int32_t);
            ASSERT_EQ(bytes[i], in_field ? 0 : 0x5A) << "byte " << i;
        }
    }
    fill_library_record(0);
}

TEST(StateRecord, SnapshotIsNeverTornWithinAText) {
    // A writer that updates under the lock, as the parser does for one line.
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        bool flip = false;
        while (!stop.load()) {
            std::lock_guard lock(zorvik::state_mutex());
            std::strcpy(zorvik::state().utc_time, flip ? "000000.000" : "235959.999");
            std::strcpy(zorvik::state().fsa_ver, flip ? "AAAAAAAAAAAAAAAAA" : "BBBBBBBBBBBBBBBBB");
            flip = !flip;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        const ParseNMEAInfo copy = snapshot();
        const std::string t = copy.utc_time, f = copy.fsa_ver;
        if (t.empty()) continue;  // before the writer's first line
        ASSERT_TRUE(t == "000000.000" || t == "235959.999") << t;
        ASSERT_TRUE(f == "AAAAAAAAAAAAAAAAA" || f == "BBBBBBBBBBBBBBBBB") << f;
        ASSERT_EQ(t[0] == '0', f[0] == 'A');  // both texts from the same line
    }
    stop.store(true);
    writer.join();
    fill_library_record(0);
}

}  // namespace
