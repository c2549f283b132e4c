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
#include <cstring>
#include <functional>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace cport {
namespace {

using test::TPortPeer;

// The port's Open fails with code 1 and AOsCode, and the port stays closed.
void ExpectRefused(TComPort& APort, int AOsCode) {
    try {
        APort.Open();
        ADD_FAILURE() << "opened " << APort.Port();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.Code(), 1);
        EXPECT_EQ(error.WinCode(), AOsCode) << std::strerror(error.WinCode());
        EXPECT_EQ(std::string(error.what()),
                  "COM Port Error: Unable to open com port on " + APort.Port());
    }
    EXPECT_FALSE(APort.Connected());
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
    ExpectRefused(Port, ENOENT);
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

} // namespace
} // namespace cport
