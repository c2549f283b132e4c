// The port against other programs and a hostile system: a port that another program holds
// (pySerial with its exclusive lock, or the component in another process), a device node that
// may not be opened, and one that has gone. Each refusal is code 1 with the OS code, and the
// same port object opens the next device as if nothing had happened.
#include "CPort.h"
#include "PortPeer.h"
#include "PtyPair.h"
#include "ScratchMount.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cport {
namespace {

using test::TPortPeer;

// The port's Open fails with code 1 and AOsCode, and the port stays closed. Returns the
// error's reason.
std::string ExpectRefused(TComPort& APort, int AOsCode) {
    std::string reason;
    try {
        APort.Open();
        ADD_FAILURE() << "opened " << APort.Port();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.Code(), 1);
        EXPECT_EQ(error.WinCode(), AOsCode) << std::strerror(error.WinCode());
        EXPECT_EQ(std::string(error.what()),
                  "COM Port Error: Unable to open com port on " + APort.Port());
        reason = error.Reason();
    }
    EXPECT_FALSE(APort.Connected());
    return reason;
}

// Opens, checks the device works both ways, closes.
void ExpectUsable(TComPort& APort, TPtyPair& APty) {
    ASSERT_NO_THROW(APort.Open());
    EXPECT_EQ(APort.WriteStr("ping"), 4);
    EXPECT_EQ(APty.ReadExactly(4), "ping");
    APort.Close();
}

class PortFaults : public ::testing::Test {
protected:
    PortFaults() {
        Port.SetEvents({}); // the tests read nothing; no event thread to serve
        Port.SetPort(Pty.SlavePath());
    }

    TPtyPair Pty;
    TComPort Port{nullptr};
};

// A peer that finds the port held answers "refused" with flock's EWOULDBLOCK when it opens
// as root (TIOCEXCL lets root in), and with TIOCEXCL's EBUSY otherwise.
bool IsBusy(const std::string& AAnswer, const std::string& APrefix) {
    return AAnswer == APrefix + std::to_string(EWOULDBLOCK) ||
           AAnswer == APrefix + std::to_string(EBUSY);
}

TEST_F(PortFaults, APortThatPySerialHoldsIsRefusedAndTheOtherWayRound) {
    {
        TPortPeer peer(TPortPeer::PySerial(Pty.SlavePath()));
        ASSERT_TRUE(peer.Holds()) << peer.Answer();
        ExpectRefused(Port, EBUSY);
    }
    ExpectUsable(Port, Pty);
    Port.Open();
    {
        TPortPeer peer(TPortPeer::PySerial(Pty.SlavePath()));
        EXPECT_TRUE(IsBusy(peer.Answer(), "refused ")) << peer.Answer();
    }
    // The refused peer changed nothing: the port still works.
    EXPECT_EQ(Port.WriteStr("ok"), 2);
    EXPECT_EQ(Pty.ReadExactly(2), "ok");
    Port.Close();
    TPortPeer peer(TPortPeer::PySerial(Pty.SlavePath()));
    EXPECT_TRUE(peer.Holds()) << "closing lets others in: " << peer.Answer();
}

TEST_F(PortFaults, APortThatAnotherProcessOfTheComponentHoldsIsRefusedBothWays) {
    {
        TPortPeer peer(TPortPeer::Component(Pty.SlavePath()));
        ASSERT_TRUE(peer.Holds()) << peer.Answer();
        ExpectRefused(Port, EBUSY);
    }
    ExpectUsable(Port, Pty);
    Port.Open();
    {
        TPortPeer peer(TPortPeer::Component(Pty.SlavePath()));
        EXPECT_EQ(peer.Answer(), "refused 1 " + std::to_string(EBUSY));
    }
    // A second port object in this process is another opener too.
    TComPort second(nullptr);
    second.SetEvents({});
    second.SetPort(Pty.SlavePath());
    ExpectRefused(second, EBUSY);
    Port.Close();
    ExpectUsable(second, Pty);
}

TEST_F(PortFaults, ADeviceNodeThatMayNotBeOpenedIsRefusedWithEacces) {
    // Root passes permission bits. What refuses root too: a device node on a file system
    // mounted without devices (nodev), as a node copied onto a USB stick would be. Where this
    // process may not mount, the pty's own node without permissions, opened without the
    // override that root has.
    test::TScratchMount nodev(MS_NODEV, "size=64k");
    struct stat slave {};
    ASSERT_EQ(::stat(Pty.SlavePath().c_str(), &slave), 0);
    const std::string node = nodev.Folder() + "/ttyRQ71";
    if (nodev.Mounted()) {
        ASSERT_EQ(::mknod(node.c_str(), S_IFCHR | 0666, slave.st_rdev), 0);
        Port.SetPort(node);
        ExpectRefused(Port, EACCES);
    } else {
        ASSERT_EQ(::chmod(Pty.SlavePath().c_str(), 0), 0);
        {
            test::TWithoutCapability user(CAP_DAC_OVERRIDE);
            ExpectRefused(Port, EACCES);
        }
        ASSERT_EQ(::chmod(Pty.SlavePath().c_str(), slave.st_mode & 07777), 0);
    }
    Port.SetPort(Pty.SlavePath());
    ExpectUsable(Port, Pty);
}

TEST_F(PortFaults, ADeviceThatHasGoneIsRefusedWithEnoent) {
    TPtyPair other;
    const std::string gone = other.SlavePath();
    other.CloseMaster(); // the adapter is pulled: its node goes
    Port.SetPort(gone);
    EXPECT_EQ(ExpectRefused(Port, ENOENT), "No such file or directory");
    // A name that was never there fails the same way.
    Port.SetPort("/dev/ttyQuendalNoSuchDevice");
    ExpectRefused(Port, ENOENT);
    Port.SetPort(Pty.SlavePath());
    ExpectUsable(Port, Pty);
}

TEST_F(PortFaults, APortWhoseDeviceWentFailsItsTransfersOnceAndClosesQuietly) {
    Port.SetEvents(AllComEvents);
    Port.SetSyncMethod(smNone); // the event thread runs on; nothing of it is handed over
    Port.Open();
    ASSERT_TRUE(Pty.WriteAll("+23.456"));
    Pty.CloseMaster();
    // What the event handlers ask after a hang-up raises nothing: the one error is the
    // transfer's.
    EXPECT_EQ(Port.InputCount(), 0);
    EXPECT_TRUE(Port.Signals().Empty());
    try {
        Port.WriteStr("poll");
        ADD_FAILURE() << "wrote to a device that is gone";
    } catch (const EComPort& error) {
        EXPECT_EQ(error.Code(), 2);
        EXPECT_EQ(error.WinCode(), EIO);
    }
    EXPECT_NO_THROW(Port.Close());
    EXPECT_FALSE(Port.Connected());
    TPtyPair next;
    Port.SetEvents({});
    Port.SetPort(next.SlavePath());
    ExpectUsable(Port, next);
}

TEST_F(PortFaults, AnotherUserOpensThePortOnceItIsClosed) {
    ExpectUsable(Port, Pty);
    // TIOCEXCL keeps out whoever lacks CAP_SYS_ADMIN, which root has: the test gives it up.
    test::TWithoutCapability user(CAP_SYS_ADMIN);
    const int fd = ::open(Pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0) << std::strerror(errno);
    if (fd >= 0) ::close(fd);
    ExpectUsable(Port, Pty);
}

TEST_F(PortFaults, AProgramThatOpenedThePortWithoutAnyLockIsRefusedByName) {
    // The shell itself waits (read is built in), so it is the holder by its own name.
    TPortPeer peer({"/bin/sh", "-c", "exec 3<>\"$0\" && echo open && read line", Pty.SlavePath()});
    ASSERT_TRUE(peer.Holds()) << peer.Answer();
    EXPECT_EQ(ExpectRefused(Port, EBUSY), "in use by sh (PID " + std::to_string(peer.Pid()) + ")");
}

TEST_F(PortFaults, UucpLocksOfLiveProgramsRefuseAndOthersAreTakenOver) {
    char folder[] = "/tmp/cport-locks-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    ::setenv("CPORT_LOCK_DIR", folder, 1);
    const std::string lock =
        std::string(folder) + "/LCK.." + Pty.SlavePath().substr(Pty.SlavePath().rfind('/') + 1);
    auto pidText = [](long APid) {
        char text[16];
        std::snprintf(text, sizeof text, "%10ld\n", APid);
        return std::string(text);
    };
    auto content = [&] {
        std::ifstream file(lock);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    TPortPeer live({"/bin/sh", "-c", "echo open && read line"});
    std::ofstream(lock) << pidText(live.Pid());
    EXPECT_EQ(ExpectRefused(Port, EBUSY), "in use by sh (PID " + std::to_string(live.Pid()) + ")");

    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    for (const std::string& text :
         {pidText(gone), std::string("garbage\n"), std::string(), pidText(::getpid())}) {
        std::ofstream(lock) << text;
        ASSERT_NO_THROW(Port.Open()) << text;
        EXPECT_EQ(content(), pidText(::getpid()));
        Port.Close();
        EXPECT_NE(::access(lock.c_str(), F_OK), 0) << "left behind";
    }

    // A lock folder this user may not write leaves the port unlocked, not closed.
    ASSERT_EQ(::chmod(folder, 0555), 0);
    {
        test::TWithoutCapability user(CAP_DAC_OVERRIDE);
        ExpectUsable(Port, Pty);
    }
    ::unsetenv("CPORT_LOCK_DIR");
    std::filesystem::remove_all(folder);
}

TEST_F(PortFaults, ADeviceOfAGroupTheUserIsNotInNamesTheGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving the device node away needs root";
    const group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    struct stat slave {};
    ASSERT_EQ(::stat(Pty.SlavePath().c_str(), &slave), 0);
    ASSERT_EQ(::chown(Pty.SlavePath().c_str(), 65534, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(Pty.SlavePath().c_str(), 0660), 0);
    {
        test::TWithoutCapability user(CAP_DAC_OVERRIDE);
        EXPECT_EQ(ExpectRefused(Port, EACCES),
                  "Permission denied: add yourself to the dialout group");
    }
    ASSERT_EQ(::chown(Pty.SlavePath().c_str(), slave.st_uid, slave.st_gid), 0);
    ASSERT_EQ(::chmod(Pty.SlavePath().c_str(), slave.st_mode & 07777), 0);
}

} // namespace
} // namespace cport
