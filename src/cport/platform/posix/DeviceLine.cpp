#include "DeviceOperation.h"

#include "InterruptibleThread.h"
#include "Termios2.h"

#include <algorithm>

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace cport {

namespace {

constexpr std::uint32_t MaxQueueSize = 64u << 20;
constexpr std::uint32_t ModemEvents = EvMask::Cts | EvMask::Dsr | EvMask::Rlsd | EvMask::Ring;

} // namespace

// --- Settings -------------------------------------------------------------------------------

TOsError TDevice::SetupComm(std::uint32_t AInQueue, std::uint32_t AOutQueue) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    if (AInQueue == 0 || AInQueue > MaxQueueSize || AOutQueue > MaxQueueSize) return EINVAL;
    FQueue.Resize(std::max(AInQueue, MinQueueCapacity));
    FRequestGrew = true;
    // The 80 % mark belongs to the size the program asked for.
    FRx80Threshold = (std::size_t{AInQueue} * 4 + 4) / 5;
    CheckRx80();
    Pump();
    return 0;
}

TOsError TDevice::GetState(TDCB& ADcb) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    ADcb = FDcb;
    return 0;
}

// Accepted but not expressible on Linux, so without effect:
// - DTR handshake (fDtrControl 2) and DSR output flow (fOutxDsrFlow): the kernel has no
//   DTR/DSR flow control; DTR keeps its level.
// - DSR sensitivity (fDsrSensitivity): input is never gated by DSR.
// - RTS toggle (fRtsControl 3): the kernel does not raise RTS around transmission.
// - XonLim and XoffLim: the kernel decides when IXOFF sends XOFF and XON.
// - fTXContinueOnXoff: the kernel's IXOFF never stops our output.
// - fAbortOnError: errors never abort transfers.
// - fBinary 0 and EofChar: input is always binary.
TOsError TDevice::SetState(const TDCB& ADcb) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    const std::uint32_t flags = ADcb.Flags;
    const bool xonXoff = (flags & (DcbFlag::OutX | DcbFlag::InX)) != 0;
    if (ADcb.BaudRate == 0 || ADcb.ByteSize < 5 || ADcb.ByteSize > 8 ||
        ADcb.Parity > DcbParity::Space || ADcb.StopBits > DcbStopBits::Two ||
        (xonXoff && ADcb.XonChar == ADcb.XoffChar))
        return EINVAL;
    const std::uint32_t dtr = (flags & DcbFlag::DtrControlMask) >> DcbFlag::DtrControlShift;
    const std::uint32_t rts = (flags & DcbFlag::RtsControlMask) >> DcbFlag::RtsControlShift;

    TLineSettings line;
    line.BaudRate = ADcb.BaudRate;
    line.ByteSize = ADcb.ByteSize;
    line.Parity = ADcb.Parity;
    line.StopBits = ADcb.StopBits;
    line.ParityCheck = (flags & DcbFlag::Parity) != 0;
    line.HardwareFlow = (flags & DcbFlag::OutxCtsFlow) != 0 || rts == 2;
    line.XonXoffOut = (flags & DcbFlag::OutX) != 0;
    line.XonXoffIn = (flags & DcbFlag::InX) != 0;
    line.XonChar = static_cast<std::uint8_t>(ADcb.XonChar);
    line.XoffChar = static_cast<std::uint8_t>(ADcb.XoffChar);
    // Input that came under the old marking rule is decoded by it.
    if (line.ParityCheck != FDecoder.Config().Marks) Pump();
    if (FGone != 0) return FGone;
    std::uint32_t taken = 0;
    if (const TOsError error = ApplyLine(FFd, line, taken)) {
        if (error == EINVAL && taken != 0)
            SetErrorReason(error, "the device does not support " + std::to_string(line.BaudRate) +
                                      " baud (it would run at " + std::to_string(taken) + ")");
        return error;
    }

    TDecoderConfig decoder;
    decoder.DiscardNull = (flags & DcbFlag::Null) != 0;
    decoder.ReplaceErrors = line.ParityCheck && (flags & DcbFlag::ErrorChar) != 0;
    decoder.ErrorChar = static_cast<std::uint8_t>(ADcb.ErrorChar);
    decoder.DetectEvtChar = true;
    decoder.EvtChar = static_cast<std::uint8_t>(ADcb.EvtChar);
    decoder.Marks = line.ParityCheck;
    FDecoder.Configure(decoder);

    if (dtr < 2)
        if (const TOsError error = SetModemLine(TIOCM_DTR, dtr == 1)) return error;
    if (rts < 2)
        if (const TOsError error = SetModemLine(TIOCM_RTS, rts == 1)) return error;
    FDcb = ADcb;
    return 0;
}

TOsError TDevice::GetTimeouts(TCommTimeouts& ATimeouts) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    ATimeouts = FTimeouts;
    return 0;
}

TOsError TDevice::SetTimeouts(const TCommTimeouts& ATimeouts) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    if (!ValidTimeouts(ATimeouts)) return EINVAL;
    FTimeouts = ATimeouts;
    return 0;
}

TOsError TDevice::GetMask(std::uint32_t& AMask) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    AMask = FMask;
    return 0;
}

TOsError TDevice::SetMask(std::uint32_t AMask) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    Pump();
    if (FGone != 0) return FGone;
    FMask = AMask;
    FHistory = 0;
    // Bytes the queue holds already would never be announced: while the queue is full the
    // device is held and no further byte arrives to raise the event. A line that keeps
    // sending (as a UART does) would raise it with its next byte.
    if ((AMask & EvMask::RxChar) != 0 && FQueue.Count() > 0) FHistory = EvMask::RxChar;
    if (FWaitOp) {
        const POp op = std::move(FWaitOp);
        op->Events = 0;
        Complete(*op, 0);
    }
    if ((AMask & ModemEvents) != 0 && FHasModemLines && !FWatcher) StartWatcher();
    return 0;
}

// --- Status and line control ----------------------------------------------------------------

TOsError TDevice::ClearError(std::uint32_t& AErrors, TComStat* AStat) {
    TScope scope(*this);
    if (FClosed) return WinError::InvalidHandle;
    Pump();
    if (FGone == 0 && FHasCounters) FErrors |= PollCounters();
    AErrors = FErrors;
    FErrors = 0;
    if (AStat == nullptr) return 0;
    // A gone device reports rather than fails (see Platform.h): nothing can be read from
    // its queue any more, nothing is sent, nothing held.
    if (FGone != 0) {
        *AStat = TComStat{};
        return 0;
    }
    std::uint32_t flags = 0;
    int lines = 0;
    if ((FDcb.Flags & DcbFlag::OutxCtsFlow) != 0 && FHasModemLines &&
        ::ioctl(FFd, TIOCMGET, &lines) == 0 && (lines & TIOCM_CTS) == 0)
        flags |= ComStatFlag::CtsHold;
    if (FXoffHeld) flags |= ComStatFlag::XoffHold;
    if (!FPriority.empty()) flags |= ComStatFlag::Txim;
    std::uint64_t output = FPriority.size() + KernelOutput();
    for (const POp& op : FWrites)
        output += op->Count - op->Done;
    AStat->Flags = flags;
    AStat->cbInQue = static_cast<std::uint32_t>(FQueue.Count());
    AStat->cbOutQue = static_cast<std::uint32_t>(std::min<std::uint64_t>(output, MaxDword));
    return 0;
}

TOsError TDevice::Purge(std::uint32_t AFlags) {
    TScope scope(*this);
    if (FClosed) return WinError::InvalidHandle;
    if ((AFlags & ~(Purge::TxAbort | Purge::RxAbort | Purge::TxClear | Purge::RxClear)) != 0)
        return EINVAL;
    // A gone device has nothing left to purge: its hang-up ended every pending operation and
    // its input can no longer be read.
    if (FGone != 0) {
        if ((AFlags & Purge::RxClear) != 0) FQueue.Clear();
        return 0;
    }
    if ((AFlags & Purge::TxAbort) != 0) CompleteAll(FWrites, WinError::OperationAborted);
    if ((AFlags & Purge::RxAbort) != 0) CompleteAll(FReads, WinError::OperationAborted);
    if ((AFlags & Purge::TxClear) != 0) {
        FPriority.clear();
        if (::tcflush(FFd, TCOFLUSH) != 0) return Errno();
    }
    if ((AFlags & Purge::RxClear) != 0) {
        if (::tcflush(FFd, TCIFLUSH) != 0) return Errno();
        FQueue.Clear();
        FRequestGrew = true;
        FDecoder.Reset();
        CheckRx80();
    }
    Pump();
    return 0;
}

TOsError TDevice::SetModemLine(int ALine, bool AOn) {
    if (FHasModemLines) {
        int bits = ALine;
        if (::ioctl(FFd, AOn ? TIOCMBIS : TIOCMBIC, &bits) != 0) return Errno();
    }
    // A device without modem lines (a pty) keeps the level it was asked for.
    (ALine == TIOCM_DTR ? FDtr : FRts) = AOn;
    return 0;
}

TOsError TDevice::Escape(std::uint32_t AFunction) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    switch (AFunction) {
    case Esc::SetXoff:
        if (::tcflow(FFd, TCOOFF) != 0) return Errno();
        FXoffHeld = true;
        return 0;
    case Esc::SetXon:
        if (::tcflow(FFd, TCOON) != 0) return Errno();
        FXoffHeld = false;
        Pump();
        return 0;
    case Esc::SetRts:
    case Esc::ClrRts:
        return SetModemLine(TIOCM_RTS, AFunction == Esc::SetRts);
    case Esc::SetDtr:
    case Esc::ClrDtr:
        return SetModemLine(TIOCM_DTR, AFunction == Esc::SetDtr);
    case Esc::SetBreak:
        return ::ioctl(FFd, TIOCSBRK) == 0 ? 0 : Errno();
    case Esc::ClrBreak:
        return ::ioctl(FFd, TIOCCBRK) == 0 ? 0 : Errno();
    default:
        return EINVAL;
    }
}

TOsError TDevice::ModemStatus(std::uint32_t& AStatus) {
    TScope scope(*this);
    if (FClosed) return WinError::InvalidHandle;
    AStatus = 0;
    // A device without modem lines (a pty) has all of them off, and so has a gone one.
    if (!FHasModemLines || FGone != 0) return 0;
    int lines = 0;
    if (::ioctl(FFd, TIOCMGET, &lines) != 0) return Errno();
    if ((lines & TIOCM_CTS) != 0) AStatus |= ModemStatus::CtsOn;
    if ((lines & TIOCM_DSR) != 0) AStatus |= ModemStatus::DsrOn;
    if ((lines & TIOCM_RNG) != 0) AStatus |= ModemStatus::RingOn;
    if ((lines & TIOCM_CD) != 0) AStatus |= ModemStatus::RlsdOn;
    return 0;
}

TOsError TDevice::TransmitChar(char AChar) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    Pump();
    if (FGone != 0) return FGone;
    // One priority byte at a time, as on Windows.
    if (!FPriority.empty()) return EBUSY;
    FPriority.push_back(AChar);
    FRequestGrew = true;
    WriteOutput(TClock::now());
    return FGone;
}

// --- Modem lines ----------------------------------------------------------------------------

void TDevice::StartWatcher() {
    serial_icounter_struct counts{};
    if (FHasCounters && ::ioctl(FFd, TIOCGICOUNT, &counts) == 0) {
        FCounts.Cts = counts.cts;
        FCounts.Dsr = counts.dsr;
        FCounts.Rng = counts.rng;
        FCounts.Dcd = counts.dcd;
    }
    int lines = 0;
    if (::ioctl(FFd, TIOCMGET, &lines) == 0) FModemLines = lines;
    FWatcher = std::make_unique<TInterruptibleThread>([this] { return WatchModemLines(); });
}

// Runs on the watcher thread; FCounts' line fields and FModemLines are its own.
bool TDevice::WatchModemLines() {
    if (::ioctl(FFd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) != 0)
        return errno == EINTR;
    std::uint32_t events = 0;
    int lines = 0;
    if (::ioctl(FFd, TIOCMGET, &lines) != 0) return false;
    serial_icounter_struct counts{};
    if (FHasCounters && ::ioctl(FFd, TIOCGICOUNT, &counts) == 0) {
        // The counters catch pulses too short for the levels to show.
        if (counts.cts != FCounts.Cts) events |= EvMask::Cts;
        if (counts.dsr != FCounts.Dsr) events |= EvMask::Dsr;
        if (counts.dcd != FCounts.Dcd) events |= EvMask::Rlsd;
        if (counts.rng != FCounts.Rng) events |= EvMask::Ring;
        FCounts.Cts = counts.cts;
        FCounts.Dsr = counts.dsr;
        FCounts.Dcd = counts.dcd;
        FCounts.Rng = counts.rng;
    } else {
        const int changed = lines ^ FModemLines;
        if ((changed & TIOCM_CTS) != 0) events |= EvMask::Cts;
        if ((changed & TIOCM_DSR) != 0) events |= EvMask::Dsr;
        if ((changed & TIOCM_CD) != 0) events |= EvMask::Rlsd;
        // A ring is its trailing edge, as the kernel counts it.
        if ((changed & TIOCM_RNG) != 0 && (lines & TIOCM_RNG) == 0) events |= EvMask::Ring;
    }
    FModemLines = lines;
    TScope scope(*this);
    PostEvents(events);
    return true;
}

} // namespace cport
