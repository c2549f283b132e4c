// The enumerations and small sets of the serial-port component.
#pragma once

#include "Set.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cport {

enum TBaudRate : std::uint8_t {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
inline constexpr int BaudRateCount = 16;

enum TStopBits : std::uint8_t {
    sbOneStopBit,
    sbOne5StopBits,
    sbTwoStopBits
};
inline constexpr int StopBitsCount = 3;

enum TDataBits : std::uint8_t {
    dbFive,
    dbSix,
    dbSeven,
    dbEight
};
inline constexpr int DataBitsCount = 4;

enum TParityBits : std::uint8_t {
    prNone,
    prOdd,
    prEven,
    prMark,
    prSpace
};
inline constexpr int ParityBitsCount = 5;

enum TDTRFlowControl : std::uint8_t {
    dtrDisable,
    dtrEnable,
    dtrHandshake
};
inline constexpr int DTRFlowControlCount = 3;

enum TRTSFlowControl : std::uint8_t {
    rtsDisable,
    rtsEnable,
    rtsHandshake,
    rtsToggle
};
inline constexpr int RTSFlowControlCount = 4;

enum TFlowControl : std::uint8_t {
    fcHardware,
    fcSoftware,
    fcNone,
    fcCustom
};
inline constexpr int FlowControlCount = 4;

enum TComEvent : std::uint8_t {
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD,
    evRx80Full
};
using TComEvents = TSet<TComEvent, std::uint16_t>;
inline constexpr TComEvents AllComEvents = TComEvents::FromBits(0x03FF);

enum TComSignal : std::uint8_t {
    csCTS,
    csDSR,
    csRing,
    csRLSD
};
using TComSignals = TSet<TComSignal, std::uint8_t>;

enum TComError : std::uint8_t {
    ceFrame,
    ceRxParity,
    ceOverrun,
    ceBreak,
    ceIO,
    ceMode,
    ceRxOver,
    ceTxFull
};
using TComErrors = TSet<TComError, std::uint8_t>;

enum TComStateFlag : std::uint8_t {
    fCtlHold,
    fDsrHold,
    fRlsHold,
    fXoffHold,
    fXOffSent,
    fEof,
    fTxim
};
using TComStateFlags = TSet<TComStateFlag, std::uint8_t>;

enum TSyncMethod : std::uint8_t {
    smThreadSync,
    smWindowSync,
    smNone,
    smDisableEvents
};

enum TStoreType : std::uint8_t {
    stRegistry,
    stIniFile
};

enum TStoredProp : std::uint8_t {
    spBasic,
    spFlowControl,
    spBuffer,
    spTimeouts,
    spParity,
    spOthers
};
using TStoredProps = TSet<TStoredProp, std::uint8_t>;

enum TOperationKind : std::uint8_t {
    okWrite,
    okRead
};

// The runtime's thread priorities; the event thread of an open port runs at one of them.
enum TThreadPriority : std::uint8_t {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

// --- Text forms of the settings -------------------------------------------------------------
// Conversions to text return the member's text form; conversions from text never fail. Text is
// matched whole, folding only the ASCII letters a to z; unknown text gives the default named.

std::string BaudRateToText(TBaudRate ABaudRate);
TBaudRate TextToBaudRate(const std::string& AText); // default br9600
std::string StopBitsToText(TStopBits AStopBits);
TStopBits TextToStopBits(const std::string& AText); // default sbOneStopBit
std::string DataBitsToText(TDataBits ADataBits);
TDataBits TextToDataBits(const std::string& AText); // default dbEight
std::string ParityToText(TParityBits AParity);
TParityBits TextToParity(const std::string& AText); // default prNone
std::string FlowControlToText(TFlowControl AFlowControl);
TFlowControl TextToFlowControl(const std::string& AText); // default fcCustom
std::string DTRControlToText(TDTRFlowControl ADTRControl);
TDTRFlowControl TextToDTRControl(const std::string& AText); // default dtrDisable
std::string RTSControlToText(TRTSFlowControl ARTSControl);
TRTSFlowControl TextToRTSControl(const std::string& AText); // default rtsDisable
// "Yes" or "No"; reading gives true exactly for "YES" in any letter case.
std::string BoolToYesNo(bool AValue);
bool YesNoToBool(const std::string& AText);
// Codes 33 to 127 as the character itself, every other code as "#" and the decimal code.
std::string CharToText(char AChar);
// The reverse of CharToText: "#" followed by an integer gives its low 8 bits (a malformed
// number gives #0); otherwise the low 8 bits of the first character's code; empty text #0.
char TextToChar(const std::string& AText);

// The runtime's string-to-integer rule: leading blanks, an optional sign, then decimal digits or
// hexadecimal ones after "$", "x" or "0x"; nothing may follow. Empty when the text is no such
// 32-bit number.
std::optional<std::int32_t> StrToInt(std::string_view AText);

// The rate in bits per second that a member stands for; 0 for brCustom, whose rate is the
// port's CustomBaudRate.
std::uint32_t BaudRateToValue(TBaudRate ABaudRate);

} // namespace cport
