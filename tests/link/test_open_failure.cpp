// The one rule for a failed open: the reason the serial layer finds with the
// open itself, carried through COM_Open to the caller, and its words in the
// program's and the command line's phrasing.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>

#include "OpenFailureText.h"
#include "PortLink.h"
#include "open_failure.h"
#include "pty_pair.h"
#include "temp_dir.h"

namespace {

namespace link = zorvik::link;
using zorvik::serial::OpenFailure;

TEST(OpenFailure, RealOpensReturnTheirReason) {
    zorvik::test::TempDir dir;
    const std::string file = dir / "plain";
    ::close(::open(file.c_str(), O_RDWR | O_CREAT, 0600));
    zorvik::test::PtyPair pty;
    // Another program's lock on the device.
    const int holder = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    struct Case {
        const char* what;
        std::string name;
        int failure;
    };
    const Case cases[] = {
        {"no name", "", ZORVIK_OPEN_NO_NAME},
        {"no device at the path", "/dev/zorvik-absent-port", ZORVIK_OPEN_ABSENT},
        {"no device for a bare name", "ttyZorvikAbsent", ZORVIK_OPEN_ABSENT},
        {"a regular file", file, ZORVIK_OPEN_NOT_SERIAL},
        {"a device that is no terminal", "/dev/null", ZORVIK_OPEN_NOT_SERIAL},
        {"a directory", dir.path(), ZORVIK_OPEN_NOT_SERIAL},
        {"held by another program", pty.slave_path(), ZORVIK_OPEN_HELD},
        {"a network name without its port", "rfc2217://127.0.0.1", ZORVIK_OPEN_BAD_ADDRESS},
        {"nothing listens on the network port", "tcp://127.0.0.1:1", ZORVIK_OPEN_REFUSED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const link::OpenResult result = link::OpenPort(c.name, "9600");
        EXPECT_FALSE(result.ok());
        EXPECT_EQ(result.failure, c.failure);
        EXPECT_EQ(COM_LastOpenError(), c.failure);
    }
    ::close(holder);
    const link::OpenResult opened = link::OpenPort(pty.slave_path(), "9600");
    EXPECT_TRUE(opened.ok());
    EXPECT_EQ(opened.failure, ZORVIK_OPEN_OK);
    EXPECT_EQ(COM_LastOpenError(), ZORVIK_OPEN_OK);
    link::ClosePort();
}

// Root opens any device, so the open is made by a child running as 'nobody'.
TEST(OpenFailure, DeviceWithoutRightsSaysNoPermission) {
    zorvik::test::PtyPair pty;
    ASSERT_EQ(::chmod(pty.slave_path().c_str(), 0), 0);
    constexpr int kCannotSwitch = 99;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                ::setuid(nobody->pw_uid) != 0)
                ::_exit(kCannotSwitch);
        }
        ::_exit(link::OpenPort(pty.slave_path(), "9600").failure);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kCannotSwitch) GTEST_SKIP() << "cannot run as the user 'nobody'";
    EXPECT_EQ(WEXITSTATUS(status), ZORVIK_OPEN_NO_PERMISSION);
}

// The system codes both programs used to read on their own, under one rule.
TEST(OpenFailure, SystemCodesMapToOneReason) {
    const std::pair<int, OpenFailure> cases[] = {
        {ENOENT, OpenFailure::Absent},        {EIO, OpenFailure::Absent},
        {ENXIO, OpenFailure::Absent},         {EACCES, OpenFailure::NoPermission},
        {EBUSY, OpenFailure::Held},           {EWOULDBLOCK, OpenFailure::Held},
        {ENOTTY, OpenFailure::NotSerialPort}, {EISDIR, OpenFailure::NotSerialPort},
        {EMFILE, OpenFailure::Other},
    };
    for (const auto& [error, reason] : cases) {
        SCOPED_TRACE(error);
        EXPECT_EQ(zorvik::serial::open_failure_for(error), reason);
    }
}

// Both texts start with the program's own line; the program adds the reason
// on a line of its own, the command line in brackets after the port.
TEST(OpenFailure, EachReasonIsWordedForBothPrograms) {
    const struct {
        std::string port;
        int failure;
        std::string program_reason;  // empty: the bare line
        std::string command_line_reason;
    } cases[] = {
        {"", ZORVIK_OPEN_NO_NAME, "No port is chosen: choose one with Mode, Setup COM Port.",
         "no port name given"},
        {"/dev/ttyUSB9", ZORVIK_OPEN_ABSENT, "The device does not exist.",
         "/dev/ttyUSB9: no such device"},
        {"/dev/ttyUSB9", ZORVIK_OPEN_NO_PERMISSION,
         "No permission to use the device: the user must be in the dialout group.",
         "/dev/ttyUSB9: permission denied (is the user in the dialout group?)"},
        {"/dev/ttyUSB9", ZORVIK_OPEN_HELD, "The port is held by another program.",
         "/dev/ttyUSB9: in use by another program"},
        {"/dev/null", ZORVIK_OPEN_NOT_SERIAL, "The device is not a serial port.",
         "/dev/null: not a serial port"},
        {"/dev/ttyUSB9", ZORVIK_OPEN_OTHER, "", "/dev/ttyUSB9: the system refused to open it"},
        {"/dev/ttyUSB9", 42, "", "/dev/ttyUSB9: the system refused to open it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        const std::string line = "Cannot open " + c.port + " port !";
        EXPECT_EQ(link::ProgramOpenFailureText(c.port, c.failure),
                  c.program_reason.empty() ? line : line + "\n" + c.program_reason);
        EXPECT_EQ(link::CommandLineOpenFailureText(c.port, c.failure),
                  line + " (" + c.command_line_reason + ")");
    }
}

// A reason left out of the table would fall back to the vague "refused"
// words; each device-server reason has words of its own, and names no device.
TEST(OpenFailure, DeviceServerReasonsHaveTheirOwnWords) {
    std::set<std::string> seen;
    for (int failure = ZORVIK_OPEN_BAD_ADDRESS; failure <= ZORVIK_OPEN_SERVER_BUSY; ++failure) {
        SCOPED_TRACE(failure);
        const link::OpenFailureWords& words = link::WordsFor(failure);
        EXPECT_EQ(words.failure, failure);
        EXPECT_NE(std::string(words.program), "");
        EXPECT_TRUE(seen.insert(words.command_line).second);
        EXPECT_EQ(link::CommandLineOpenFailureText("tcp://bench:4001", failure),
                  "Cannot open tcp://bench:4001 port ! (" + std::string(words.command_line) + ")");
    }
}

}  // namespace
