#include "CPort_p.h"

#include <algorithm>
#include <array>
#include <system_error>
#include <vector>

namespace cport {

namespace {

TComPlatform& Platform() {
    return TComPlatform::Current();
}

// The set order and the mask order differ, so the conversion is a table, never a shift.
constexpr std::array<std::uint32_t, 10> EventMasks = {
    EvMask::RxChar,   // evRxChar
    EvMask::TxEmpty,  // evTxEmpty
    EvMask::RxFlag,   // evRxFlag
    EvMask::Ring,     // evRing
    EvMask::Break,    // evBreak
    EvMask::Cts,      // evCTS
    EvMask::Dsr,      // evDSR
    EvMask::Err,      // evError
    EvMask::Rlsd,     // evRLSD
    EvMask::Rx80Full, // evRx80Full
};

// Calls AVisit for every link. The count is taken once; a link removed meanwhile (a handler may
// remove links) shortens the walk instead of reading past the list.
template <typename TVisit>
void ForEachLink(const std::vector<TComLink*>& ALinks, TVisit AVisit) {
    const std::size_t count = ALinks.size();
    for (std::size_t i = 0; i < count && i < ALinks.size(); ++i)
        AVisit(*ALinks[i]);
}

// The order in which a set of events is delivered: errors first, so that a handler of received
// characters sees the line errors of the same pass reported already.
constexpr std::array<TComEvent, 10> DeliveryOrder = {
    evError, evRxChar, evTxEmpty, evBreak, evRing, evCTS, evDSR, evRxFlag, evRLSD, evRx80Full};

// How many event sets the GUI thread delivers in one turn of its event loop, on the watched way.
constexpr int SetsPerTurn = 4;

// Windows thread priorities of the runtime's priority levels.
constexpr std::array<int, 7> ThreadPriorities = {-15, -2, -1, 0, 1, 2, 15};

// A delivery of an event set in progress on this thread, innermost first. A handler that
// closes or frees the port ends it: the port, and with it the thread object, may be gone when
// the handler returns.
struct TDelivery {
    const TComThread* Thread;
    bool Ended;
    TDelivery* Outer;
};
thread_local TDelivery* CurrentDelivery = nullptr;

} // namespace

std::uint32_t EventsToMask(TComEvents AEvents) {
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < EventMasks.size(); ++i)
        if (AEvents.Contains(static_cast<TComEvent>(i))) mask |= EventMasks[i];
    return mask;
}

TComEvents MaskToEvents(std::uint32_t AMask) {
    TComEvents events;
    for (std::size_t i = 0; i < EventMasks.size(); ++i)
        if (AMask & EventMasks[i]) events.Include(static_cast<TComEvent>(i));
    return events;
}

// --- TComThread -------------------------------------------------------------------------------

TComThread::TComThread(TCustomComPort* AComPort)
    : FComPort(AComPort) {
    TComPlatform& platform = Platform();
    TOsError error = platform.CreateEventW(true, false, FStopEvent);
    if (error == WinError::Success) error = platform.CreateEventW(true, true, FWaitEvent);
    if (error == WinError::Success) {
        platform.SetCommMask(FComPort->FHandle, EventsToMask(FComPort->FEvents));
        // Handlers that run on the GUI thread anyway need no thread in between when the GUI
        // thread's event loop can watch the device's wait itself.
        const TSyncMethod sync = FComPort->FSyncMethod;
        if ((sync == smThreadSync || sync == smWindowSync) && TMainThread::IsCurrent()) {
            FWatch = TMainThread::CreateWaitWatch([this] { Serve(); });
            if (FWatch)
                FWait = platform.WatchEvent(FWaitEvent, [watch = FWatch.get()] { watch->Poke(); });
            if (!FWait) FWatch.reset();
        }
        if (FWatch) {
            FOverlapped.hEvent = FWaitEvent;
            const TOsError started =
                platform.WaitCommEvent(FComPort->FHandle, &FMask, &FOverlapped);
            if (IsDeviceGoneError(started)) FGoneNoted = started;
            // Checked from the event loop: a set that is there already is delivered after Open.
            WatchAtOnce();
        } else {
            try {
                Start();
            } catch (const std::system_error& e) {
                error = static_cast<TOsError>(e.code().value());
            }
        }
    }
    if (error != WinError::Success) {
        // The wait first: its wake-ups poke the watch, from any thread.
        FWait.reset();
        FWatch.reset();
        CloseEvents();
        FComPort->RaiseOsError(cpeCannotOpen, error);
    }
}

TComThread::~TComThread() {
    if (FWatch) {
        // The wait first: its wake-ups poke the watch, from any thread.
        FWait.reset();
        FWatch.reset();
        EndSteps(FOverlapped);
    } else {
        SignalStop();
        Terminate();
        WaitFor();
    }
    // Closed here rather than by the thread: SignalStop must never set a closed event.
    CloseEvents();
}

void TComThread::SignalStop() {
    if (FStopEvent != 0) Platform().SetEvent(FStopEvent);
}

void TComThread::CloseEvents() {
    for (THandle* event : {&FStopEvent, &FWaitEvent}) {
        if (*event != 0) Platform().CloseHandle(*event);
        *event = 0;
    }
}

void TComThread::EndSteps(TOverlapped& AOverlapped) {
    TComPlatform& platform = Platform();
    platform.SetCommMask(FComPort->FHandle, 0);
    // A wait the new mask ended still writes into the mask: let it finish before that goes.
    std::uint32_t ignored = 0;
    platform.GetOverlappedResult(FComPort->FHandle, &AOverlapped, ignored, true);
    platform.PurgeComm(FComPort->FHandle, Purge::TxClear | Purge::RxClear);
}

void TComThread::Execute() {
    TComPlatform& platform = Platform();
    platform.SetCurrentThreadPriority(ThreadPriorities[FComPort->FEventThreadPriority]);
    TOverlapped overlapped;
    overlapped.hEvent = FWaitEvent;
    const THandle waitList[2] = {FStopEvent, FWaitEvent};
    std::uint32_t mask = 0;
    std::uint32_t result = Wait::Failed;
    // A device that went away fails the wait (on POSIX the terminal's hang-up, seen by the
    // same poll that waits for data, so an idle present device still costs nothing).
    TOsError gone = 0;
    do {
        const TOsError started = platform.WaitCommEvent(FComPort->FHandle, &mask, &overlapped);
        if (IsDeviceGoneError(started)) {
            gone = started;
            break;
        }
        if (platform.WaitForMultipleObjects(2, waitList, false, Wait::Infinite, result) !=
            WinError::Success)
            result = Wait::Failed;
        std::uint32_t transferred = 0;
        if (result == Wait::Object0 + 1) {
            const TOsError outcome =
                platform.GetOverlappedResult(FComPort->FHandle, &overlapped, transferred, false);
            if (outcome == WinError::Success) {
                FEvents = MaskToEvents(mask);
                DeliverEvents();
                if (FLeft) return;
            } else if (IsDeviceGoneError(outcome)) {
                gone = outcome;
                break;
            }
        }
    } while (result == Wait::Object0 + 1);
    if (gone == 0) gone = FGoneNoted;
    EndSteps(overlapped);
    if (gone != 0 && !Terminated()) HandOverGone(gone);
}

void TComThread::Serve() {
    TComPlatform& platform = Platform();
    for (int delivered = 0;;) {
        if (const TOsError gone = FGoneNoted) {
            CloseGone(gone);
            return;
        }
        if (!FWait->Check(FWatchSet)) {
            FWatch->Watch(FWatchSet);
            return;
        }
        // A few sets per turn of the event loop (a write's TxEmpty is mostly followed by the
        // reply's RxChar), but no more: a device that floods must not hold up the rest of the
        // program's events.
        if (delivered == SetsPerTurn) {
            WatchAtOnce();
            return;
        }
        std::uint32_t transferred = 0;
        const TOsError outcome =
            platform.GetOverlappedResult(FComPort->FHandle, &FOverlapped, transferred, false);
        if (outcome == WinError::Success) {
            FEvents = MaskToEvents(FMask);
            if (!DeliverEvents()) return;
            ++delivered;
        } else if (IsDeviceGoneError(outcome)) {
            CloseGone(outcome);
            return;
        }
        const TOsError started = platform.WaitCommEvent(FComPort->FHandle, &FMask, &FOverlapped);
        if (IsDeviceGoneError(started)) FGoneNoted = started;
    }
}

void TComThread::WatchAtOnce() {
    // The descriptors stay: the next watch mostly wants them again, and a watcher may keep
    // them armed meanwhile for less.
    FWatchSet.Deadline = TWatchSet::TClock::now();
    FWatch->Watch(FWatchSet);
}

void TComThread::CloseGone(TOsError AError) {
    TCustomComPort* const port = FComPort;
    // A close under way (the owner's, or the destructor's) needs no second one.
    if (port->FClosing || port->FEventThread.get() != this) return;
    port->CloseGone(AError);
}

void TComThread::NoteDeviceGone(TOsError AError) {
    TOsError none = 0;
    if (!FGoneNoted.compare_exchange_strong(none, AError)) return;
    // From any thread: the watch fires soon, or once the delivery under way has re-armed it.
    if (FWatch)
        FWatch->Poke();
    else
        SignalStop();
}

void TComThread::HandOverGone(TOsError AError) {
    // With every sync method on the GUI thread, where Open and Close belong. The close frees
    // this thread, which then must not touch the port or itself again.
    Synchronize([this, AError] { CloseGone(AError); });
}

void TComThread::EndDeliveries() {
    for (TDelivery* delivery = CurrentDelivery; delivery != nullptr; delivery = delivery->Outer)
        if (delivery->Thread == this) delivery->Ended = true;
}

void TComThread::Leave() {
    FLeft = true;
    // No wait of the device is pending while the thread delivers.
    TComPlatform& platform = Platform();
    platform.SetCommMask(FComPort->FHandle, 0);
    platform.PurgeComm(FComPort->FHandle, Purge::TxClear | Purge::RxClear);
    CloseEvents();
}

bool TComThread::DeliverEvents() {
    switch (FComPort->FSyncMethod) {
    case smThreadSync:
        if (FWatch) return RunEvents();
        Synchronize([this] { RunEvents(); });
        break;
    case smWindowSync:
        return SendEventCodes();
    case smNone:
        return RunEvents();
    case smDisableEvents:
        break;
    }
    return true;
}

bool TComThread::SendEventCodes() {
    // On the GUI thread each code is served at once, and its handler may close the port.
    const TMainThread::TWindowHandle window = FComPort->FWindow;
    const TComEvents events = FEvents;
    TDelivery delivery{this, false, CurrentDelivery};
    CurrentDelivery = &delivery;
    for (const TComEvent event : DeliveryOrder) {
        if (!events.Contains(event)) continue;
        TMainThread::SendMessage(window, WM_PORTEVENT, EventMasks[event], 0);
        if (delivery.Ended) break;
    }
    CurrentDelivery = delivery.Outer;
    return !delivery.Ended;
}

bool TComThread::RunEvents() {
    TCustomComPort* const port = FComPort;
    TComEvents left = FEvents;
    const bool onGuiThread = TMainThread::IsCurrent();
    TDelivery delivery{this, false, CurrentDelivery};
    CurrentDelivery = &delivery;
    for (const TComEvent event : DeliveryOrder) {
        // Most sets hold one or two events, the received characters' early in the order.
        if (left.Empty()) break;
        if (!left.Contains(event)) continue;
        left.Exclude(event);
        // A failing handler must not end event delivery: the logger would stop logging
        // without a word. It is reported, and the remaining events of the set still run.
        try {
            port->RunEvent(event);
        } catch (...) {
            if (onGuiThread)
                TMainThread::ShowException(std::current_exception(),
                                           delivery.Ended ? nullptr : port);
            else // a report may show a window, which only the GUI thread may do
                TMainThread::QueueException(std::current_exception());
        }
        // Neither the port nor this object is touched after a handler that closed the port.
        if (delivery.Ended) break;
    }
    CurrentDelivery = delivery.Outer;
    return !delivery.Ended;
}

// --- Processors ---------------------------------------------------------------------------------

void TCustomComPort::EventWindowProc(TMessage& AMessage) {
    if (AMessage.Msg != WM_PORTEVENT) {
        AMessage.Result = 0;
        return;
    }
    if (TMainThread::InSendMessage()) TMainThread::ReplyMessage(0);
    if (!FConnected) return;
    try {
        for (std::size_t i = 0; i < EventMasks.size(); ++i) {
            if (AMessage.WParam == EventMasks[i]) {
                RunEvent(static_cast<TComEvent>(i));
                break;
            }
        }
    } catch (...) {
        TMainThread::ShowException(std::current_exception(), this);
    }
}

void TCustomComPort::RunEvent(TComEvent AEvent) {
    switch (AEvent) {
    case evRxChar:
        ProcessRxChar();
        break;
    case evTxEmpty:
        ProcessTxEmpty();
        break;
    case evRxFlag:
        ProcessRxFlag();
        break;
    case evRing:
        ProcessRing();
        break;
    case evBreak:
        ProcessBreak();
        break;
    case evCTS:
        ProcessCTSChange();
        break;
    case evDSR:
        ProcessDSRChange();
        break;
    case evError:
        ProcessError();
        break;
    case evRLSD:
        ProcessRLSDChange();
        break;
    case evRx80Full:
        ProcessRx80Full();
        break;
    }
}

void TCustomComPort::ProcessError() {
    const TComErrors errors = LastErrors();
    if (!errors.Empty()) NotifyError(errors);
}

void TCustomComPort::ProcessRxChar() {
    if (FInputCountNotSupported) return;
    std::int32_t count = InputCount();
    if (count > 0) NotifyLinksSignal(lnRx, true);
    if (count > 0 && !TriggersOnRxChar()) {
        // The bytes are read once, into one buffer that the port's own handler and every
        // interested link share.
        std::unique_ptr<char[]> buffer;
        auto readOnce = [&] {
            buffer = std::make_unique<char[]>(static_cast<std::size_t>(count));
            Read(buffer.get(), count);
            NotifyRxBuf(buffer.get(), count);
        };
        ForEachLink(FLinks, [&](const TComLink& ALink) {
            if (!ALink.OnRxBuf()) return;
            if (!buffer) readOnce();
            ALink.OnRxBuf()(this, buffer.get(), count);
        });
        if (!buffer && !FTriggersOnRxChar) readOnce();
        if (buffer) count = 0;
    }
    if (count > 0) NotifyRxChar(count);
}

void TCustomComPort::ProcessTxEmpty() {
    NotifyLinksSignal(lnTx, false);
    NotifyLinks(lnTxEmpty);
    NotifyTxEmpty();
}

void TCustomComPort::ProcessBreak() {
    NotifyBreak();
}

void TCustomComPort::ProcessRing() {
    NotifyLinks(lnRing);
    NotifyRing();
}

void TCustomComPort::ProcessCTSChange() {
    const bool onOff = Signals().Contains(csCTS);
    NotifyLinksSignal(lnCTS, onOff);
    NotifyCTSChange(onOff);
}

void TCustomComPort::ProcessDSRChange() {
    const bool onOff = Signals().Contains(csDSR);
    NotifyLinksSignal(lnDSR, onOff);
    NotifyDSRChange(onOff);
}

void TCustomComPort::ProcessRLSDChange() {
    const bool onOff = Signals().Contains(csRLSD);
    NotifyLinksSignal(lnRLSD, onOff);
    NotifyRLSDChange(onOff);
}

void TCustomComPort::ProcessRxFlag() {
    NotifyLinks(lnRxFlag);
    NotifyRxFlag();
}

void TCustomComPort::ProcessRx80Full() {
    NotifyRx80Full();
}

void TCustomComPort::ProcessBeforeOpen() {
    NotifyBeforeOpen();
}

void TCustomComPort::ProcessAfterOpen() {
    // A handler that closed the port, or opened it anew, ends the steps of this opening: the
    // rest would ask a closed handle, or report the new opening's lines twice.
    const std::uint32_t opening = FOpenings;
    auto same = [&] { return FConnected && FOpenings == opening; };
    NotifyLinksSignal(lnConn, true);
    if (!same()) return;
    NotifyAfterOpen();
    if (!same()) return;
    ProcessCTSChange();
    if (!same()) return;
    ProcessDSRChange();
    if (!same()) return;
    ProcessRLSDChange();
}

void TCustomComPort::ProcessBeforeClose() {
    NotifyLinksSignal(lnCTS, false);
    NotifyLinksSignal(lnDSR, false);
    NotifyLinksSignal(lnRLSD, false);
    NotifyCTSChange(false);
    NotifyDSRChange(false);
    NotifyRLSDChange(false);
    NotifyBeforeClose();
}

void TCustomComPort::ProcessAfterClose() {
    NotifyLinksSignal(lnConn, false);
    NotifyAfterClose();
}

// --- Notifications ------------------------------------------------------------------------------

void TCustomComPort::NotifyAfterClose() {
    if (FOnAfterClose) FOnAfterClose(this);
}
void TCustomComPort::NotifyAfterOpen() {
    if (FOnAfterOpen) FOnAfterOpen(this);
}
void TCustomComPort::NotifyBeforeClose() {
    if (FOnBeforeClose) FOnBeforeClose(this);
}
void TCustomComPort::NotifyBeforeOpen() {
    if (FOnBeforeOpen) FOnBeforeOpen(this);
}
void TCustomComPort::NotifyRxChar(std::int32_t ACount) {
    if (FOnRxChar) FOnRxChar(this, ACount);
}
void TCustomComPort::NotifyRxBuf(const char* ABuffer, std::int32_t ACount) {
    if (FOnRxBuf) FOnRxBuf(this, ABuffer, ACount);
}
void TCustomComPort::NotifyTxEmpty() {
    if (FOnTxEmpty) FOnTxEmpty(this);
}
void TCustomComPort::NotifyBreak() {
    if (FOnBreak) FOnBreak(this);
}
void TCustomComPort::NotifyRing() {
    if (FOnRing) FOnRing(this);
}
void TCustomComPort::NotifyRxFlag() {
    if (FOnRxFlag) FOnRxFlag(this);
}
void TCustomComPort::NotifyCTSChange(bool AOnOff) {
    if (FOnCTSChange) FOnCTSChange(this, AOnOff);
}
void TCustomComPort::NotifyDSRChange(bool AOnOff) {
    if (FOnDSRChange) FOnDSRChange(this, AOnOff);
}
void TCustomComPort::NotifyError(TComErrors AErrors) {
    if (FOnError) FOnError(this, AErrors);
}
void TCustomComPort::NotifyRLSDChange(bool AOnOff) {
    if (FOnRLSDChange) FOnRLSDChange(this, AOnOff);
}
void TCustomComPort::NotifyRx80Full() {
    if (FOnRx80Full) FOnRx80Full(this);
}

// --- Links --------------------------------------------------------------------------------------

void TCustomComPort::NotifyLinksSignal(TLinkNotice ANotice, bool AOnOff) {
    if (FLinks.empty()) return;
    const TComSignalEvent& (TComLink::*handler)() const = nullptr;
    switch (ANotice) {
    case lnConn:
        handler = &TComLink::OnConn;
        break;
    case lnCTS:
        handler = &TComLink::OnCTSChange;
        break;
    case lnDSR:
        handler = &TComLink::OnDSRChange;
        break;
    case lnRLSD:
        handler = &TComLink::OnRLSDChange;
        break;
    case lnRx:
        handler = &TComLink::OnRx;
        break;
    case lnTx:
        handler = &TComLink::OnTx;
        break;
    default:
        return;
    }
    ForEachLink(FLinks, [&](const TComLink& ALink) {
        if (const TComSignalEvent& event = (ALink.*handler)()) event(this, AOnOff);
    });
}

void TCustomComPort::NotifyLinks(TLinkNotice ANotice) {
    const TNotifyEvent& (TComLink::*handler)() const = nullptr;
    switch (ANotice) {
    case lnRing:
        handler = &TComLink::OnRing;
        break;
    case lnTxEmpty:
        handler = &TComLink::OnTxEmpty;
        break;
    case lnRxFlag:
        handler = &TComLink::OnRxFlag;
        break;
    default:
        return;
    }
    ForEachLink(FLinks, [&](const TComLink& ALink) {
        if (const TNotifyEvent& event = (ALink.*handler)()) event(this);
    });
}

void TCustomComPort::NotifyLinksTxBuf(const char* ABuffer, std::int32_t ACount) {
    ForEachLink(FLinks, [&](const TComLink& ALink) {
        if (const TRxBufEvent& event = ALink.OnTxBuf()) event(this, ABuffer, ACount);
    });
}

bool TCustomComPort::AnyLinkWantsRxBuf() const {
    return std::any_of(FLinks.begin(), FLinks.end(),
                       [](const TComLink* ALink) { return static_cast<bool>(ALink->OnRxBuf()); });
}

void TCustomComPort::RegisterLink(TComLink* AComLink) {
    if (AComLink == nullptr || std::find(FLinks.begin(), FLinks.end(), AComLink) != FLinks.end())
        throw EComPort::CreateNoWinCode(cpeLinkRegistration);
    FLinks.push_back(AComLink);
    FHasLink = AnyLinkWantsRxBuf();
}

void TCustomComPort::UnRegisterLink(TComLink* AComLink) {
    auto it = std::find(FLinks.begin(), FLinks.end(), AComLink);
    if (AComLink == nullptr || it == FLinks.end())
        throw EComPort::CreateNoWinCode(cpeLinkRegistration);
    FLinks.erase(it);
    FHasLink = AnyLinkWantsRxBuf();
}

} // namespace cport
