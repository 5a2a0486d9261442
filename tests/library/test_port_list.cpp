// The port list and port-name resolution, with a registry of virtual ports
// in a temporary directory so that a running simulator is never met.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ZorvikDll.h"
#include "port_registry.h"
#include "pty_pair.h"
#include "serial_port.h"
#include "temp_dir.h"
#include "zorvik_testing.h"

namespace {

using zorvik::test::as_text;
using zorvik::test::PtyPair;
using zorvik::test::TempDir;

class PortList : public ::testing::Test {
  protected:
    void SetUp() override { zorvik::serial::set_registry_dir_for_testing(registry_.path()); }
    void TearDown() override {
        COM_Close();
        zorvik::serial::set_registry_dir_for_testing("");
    }

    // Registers a virtual port under name, pointing at target.
    void register_port(const std::string& name, const std::string& target) {
        ASSERT_EQ(::symlink(target.c_str(), (registry_ / name).c_str()), 0) << name;
    }
    void unregister_port(const std::string& name) {
        ASSERT_EQ(::unlink((registry_ / name).c_str()), 0);
    }

    // The names of a scan, as the program gets them.
    static std::vector<std::string> scan() {
        ScanComPort();
        ComInfo info{};
        GetScanComPortPara(&info);
        EXPECT_GE(info.count, 0);
        EXPECT_LE(info.count, ZORVIK_MAX_PORTS);
        std::vector<std::string> names;
        for (int i = 0; i < info.count && i < ZORVIK_MAX_PORTS; ++i) {
            EXPECT_NE(std::memchr(info.names[i], '\0', ZORVIK_PORT_NAME_SIZE), nullptr);
            names.emplace_back(info.names[i]);
        }
        return names;
    }

    // What the machine itself has: the scan with an empty registry.
    std::vector<std::string> machine_ports() {
        TempDir empty;
        zorvik::serial::set_registry_dir_for_testing(empty.path());
        auto names = scan();
        zorvik::serial::set_registry_dir_for_testing(registry_.path());
        return names;
    }

    TempDir registry_;
};

TEST_F(PortList, RegisteredPortsComeFirstInNaturalOrder) {
    const auto machine = machine_ports();
    PtyPair pty;
    for (const char* name : {"COM10", "COM2", "COM1", "SIM", "COM02"})
        register_port(name, pty.slave_path());

    const auto names = scan();
    // Equal numbers (COM02, COM2) fall back to byte order.
    const std::vector<std::string> expected_head = {"COM1", "COM02", "COM2", "COM10", "SIM"};
    ASSERT_GE(names.size(), expected_head.size());
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 5), expected_head);
    // The machine's own ports follow, unchanged in order.
    std::vector<std::string> rest(names.begin() + 5, names.end());
    std::vector<std::string> machine_rest;
    for (const auto& m : machine)
        if (std::find(expected_head.begin(), expected_head.end(), m) == expected_head.end())
            machine_rest.push_back(m);
    machine_rest.resize(std::min(machine_rest.size(), std::size_t{ZORVIK_MAX_PORTS - 5}));
    EXPECT_EQ(rest, machine_rest);
    // A second scan gives the same list.
    EXPECT_EQ(scan(), names);
}

TEST_F(PortList, GoneStaleAndNonLinkEntriesAreNotListed) {
    const auto machine = machine_ports();
    auto pty = std::make_unique<PtyPair>();
    register_port("COM7", pty->slave_path());
    register_port("COM8", pty->slave_path());
    register_port("COM9", registry_ / "nowhere");  // target never existed
    {
        std::FILE* f = std::fopen((registry_ / "COM5").c_str(), "w");
        std::fclose(f);
    }
    register_port(".hidden", pty->slave_path());

    auto names = scan();
    EXPECT_EQ(names.size(), std::min<std::size_t>(machine.size() + 2, ZORVIK_MAX_PORTS));
    EXPECT_EQ(names[0], "COM7");
    EXPECT_EQ(names[1], "COM8");

    // One unregistered, the other's pseudo-terminal gone: the next scan is smaller.
    unregister_port("COM7");
    EXPECT_EQ(scan().front(), "COM8");
    pty.reset();
    names = scan();
    EXPECT_EQ(names, machine);
}

TEST_F(PortList, KeepsAtMostTwentyAndCopiesOnlyTheValidEntries) {
    PtyPair pty;
    for (int i = 1; i <= 25; ++i) register_port("COM" + std::to_string(i), pty.slave_path());
    ScanComPort();

    ComInfo info;
    std::memset(&info, 'X', sizeof info);
    GetScanComPortPara(&info);
    ASSERT_EQ(info.count, ZORVIK_MAX_PORTS);
    for (int i = 0; i < ZORVIK_MAX_PORTS; ++i)
        EXPECT_STREQ(info.names[i], ("COM" + std::to_string(i + 1)).c_str());

    // A smaller scan: the entries beyond the new count are left alone.
    for (int i = 3; i <= 25; ++i) unregister_port("COM" + std::to_string(i));
    ScanComPort();
    std::memset(&info, 'X', sizeof info);
    GetScanComPortPara(&info);
    ASSERT_GE(info.count, 2);
    EXPECT_STREQ(info.names[0], "COM1");
    EXPECT_STREQ(info.names[1], "COM2");
    for (int i = info.count; i < ZORVIK_MAX_PORTS; ++i)
        for (int j = 0; j < ZORVIK_PORT_NAME_SIZE; ++j) ASSERT_EQ(info.names[i][j], 'X');

    GetScanComPortPara(nullptr);  // harmless
}

TEST_F(PortList, NameThatWouldNotFitIsNotListedNorCut) {
    PtyPair pty;
    const std::string fits(ZORVIK_PORT_NAME_SIZE - 1, 'a');
    const std::string too_long(ZORVIK_PORT_NAME_SIZE, 'b');
    register_port(fits, pty.slave_path());
    register_port(too_long, pty.slave_path());
    const auto names = scan();
    EXPECT_NE(std::find(names.begin(), names.end(), fits), names.end());
    for (const auto& n : names) EXPECT_EQ(n.find("bbbb"), std::string::npos) << n;
}

TEST_F(PortList, NamesResolveToDevicePaths) {
    PtyPair pty;
    register_port("COM3", pty.slave_path());
    register_port("SIM", pty.slave_path());
    const struct {
        std::string name, path;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},       {"COM10", "/dev/ttyS9"},      {"com2", "/dev/ttyS1"},
        {"COM3", registry_ / "COM3"},  // registered: the virtual port wins
        {"SIM", registry_ / "SIM"},   {"COM0", "/dev/COM0"},        {"COM", "/dev/COM"},
        {"COM1x", "/dev/COM1x"},      {"ttyUSB0", "/dev/ttyUSB0"},  {"ttyACM3", "/dev/ttyACM3"},
        {"/dev/pts/7", "/dev/pts/7"}, {"./here/tty", "./here/tty"}, {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(zorvik::serial::device_path(c.name), c.path) << c.name;

    // Once unregistered, COM3 is the machine's again.
    unregister_port("COM3");
    EXPECT_EQ(zorvik::serial::device_path("COM3"), "/dev/ttyS2");
}

TEST_F(PortList, RegisteredNameOpensItsPseudoTerminal) {
    PtyPair pty;
    register_port("COM1", pty.slave_path());
    ASSERT_NE(COM_Open("COM1", "115200"), 0);
    EXPECT_EQ(GetComPort_connected_Status(), 1);
    EXPECT_NE(zorvik::port_write("$PKVX*00\r\n", 10), 0);
    EXPECT_EQ(as_text(pty.read_exact(10)), "$PKVX*00\r\n");
    COM_Close();

    register_port("GONE", registry_ / "nowhere");
    EXPECT_EQ(COM_Open("GONE", "115200"), 0);
    EXPECT_EQ(GetComPort_connected_Status(), 0);
}

// Another user's links and directories are never followed: neither listed
// nor opened by name.
TEST_F(PortList, RegistryThatIsNotTheUsersOwnIsNotFollowed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make files another user owns";
    constexpr uid_t kOtherUser = 65534;  // nobody
    PtyPair pty;
    const struct {
        const char* what;
        std::function<std::string(const TempDir&)> make;  // returns the registry to use
    } cases[] = {
        {"a link another user owns",
         [&](const TempDir& d) {
             const std::string link = d / "COM1";
             EXPECT_EQ(::symlink(pty.slave_path().c_str(), link.c_str()), 0);
             EXPECT_EQ(::lchown(link.c_str(), kOtherUser, kOtherUser), 0);
             return d.path();
         }},
        {"a directory another user owns",
         [&](const TempDir& d) {
             EXPECT_EQ(::symlink(pty.slave_path().c_str(), (d / "COM1").c_str()), 0);
             EXPECT_EQ(::chown(d.path().c_str(), kOtherUser, kOtherUser), 0);
             return d.path();
         }},
        {"a directory others may write to",
         [&](const TempDir& d) {
             EXPECT_EQ(::symlink(pty.slave_path().c_str(), (d / "COM1").c_str()), 0);
             EXPECT_EQ(::chmod(d.path().c_str(), 0777), 0);
             return d.path();
         }},
        {"a registry that is itself a link",
         [&](const TempDir& d) {
             EXPECT_EQ(::symlink(registry_.path().c_str(), (d / "ports").c_str()), 0);
             register_port("COM1", pty.slave_path());
             return d / "ports";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        zorvik::serial::set_registry_dir_for_testing(c.make(dir));
        const auto names = scan();
        EXPECT_EQ(std::find(names.begin(), names.end(), "COM1"), names.end());
        EXPECT_EQ(zorvik::serial::device_path("COM1"), "/dev/ttyS0");
        ::unlink((registry_ / "COM1").c_str());
    }
}

TEST_F(PortList, OnlyTheOutermostFinaliseForgetsTheScan) {
    PtyPair pty;
    register_port("COM4", pty.slave_path());
    ScanComPort();
    ComInfo info{};

    zorvik::library_initialise();  // nested inside the load's own
    zorvik::library_finalise();
    GetScanComPortPara(&info);
    ASSERT_GE(info.count, 1);
    EXPECT_STREQ(info.names[0], "COM4");

    zorvik::library_finalise();  // the unload's: the scan is gone
    GetScanComPortPara(&info);
    EXPECT_EQ(info.count, 0);
    zorvik::library_finalise();  // unbalanced: ignored
    zorvik::library_initialise();
    zorvik::library_initialise();
    zorvik::library_finalise();
    EXPECT_EQ(scan().front(), "COM4");
}

}  // namespace
