// The Windows implementation of the platform layer: each operation is the real call.
#include "platform/ComPlatform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cport {

namespace {

static_assert(sizeof(THandle) == sizeof(HANDLE));
static_assert(sizeof(THKey) == sizeof(HKEY));
static_assert(sizeof(TOverlapped) == sizeof(OVERLAPPED));
static_assert(offsetof(TOverlapped, Internal) == offsetof(OVERLAPPED, Internal));
static_assert(offsetof(TOverlapped, InternalHigh) == offsetof(OVERLAPPED, InternalHigh));
static_assert(offsetof(TOverlapped, hEvent) == offsetof(OVERLAPPED, hEvent));
static_assert(sizeof(TDCB) == sizeof(DCB));

HANDLE H(THandle AHandle) {
    return reinterpret_cast<HANDLE>(AHandle);
}
HKEY K(THKey AKey) {
    return reinterpret_cast<HKEY>(AKey);
}
LPOVERLAPPED O(TOverlapped* AOverlapped) {
    return reinterpret_cast<LPOVERLAPPED>(AOverlapped);
}

TOsError LastError() {
    return ::GetLastError();
}
TOsError Result(BOOL AOk) {
    return AOk ? ERROR_SUCCESS : ::GetLastError();
}

// INVALID_HANDLE_VALUE is also the pseudo handle of the current process, which the waits would
// accept and never see signalled: no call is made with it.
bool Invalid(THandle AHandle) {
    return AHandle == InvalidHandle || AHandle == 0;
}

std::wstring Wide(const std::string& AText) {
    if (AText.empty()) return {};
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), wide.data(),
                          length);
    return wide;
}

std::string Utf8(const wchar_t* AText, std::size_t ALength) {
    if (ALength == 0) return {};
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, AText, static_cast<int>(ALength), nullptr,
                                             0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, AText, static_cast<int>(ALength), text.data(), length,
                          nullptr, nullptr);
    return text;
}

// A registry value's data as TRegValue holds it: text for the string kinds, up to the first
// null character; the raw bytes otherwise.
TRegValue FromRegistry(DWORD AType, const BYTE* AData, DWORD ASize) {
    TRegValue value;
    value.Type = AType;
    if (AType == REG_SZ || AType == REG_EXPAND_SZ) {
        const auto* text = reinterpret_cast<const wchar_t*>(AData);
        std::size_t length = 0;
        while (length < ASize / sizeof(wchar_t) && text[length] != L'\0')
            ++length;
        value.Data = Utf8(text, length);
    } else {
        value.Data.assign(reinterpret_cast<const char*>(AData), ASize);
    }
    return value;
}

DCB ToDcb(const TDCB& ADcb) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = ADcb.BaudRate;
    const std::uint32_t f = ADcb.Flags;
    dcb.fBinary = (f & DcbFlag::Binary) != 0;
    dcb.fParity = (f & DcbFlag::Parity) != 0;
    dcb.fOutxCtsFlow = (f & DcbFlag::OutxCtsFlow) != 0;
    dcb.fOutxDsrFlow = (f & DcbFlag::OutxDsrFlow) != 0;
    dcb.fDtrControl = (f & DcbFlag::DtrControlMask) >> DcbFlag::DtrControlShift;
    dcb.fDsrSensitivity = (f & DcbFlag::DsrSensitivity) != 0;
    dcb.fTXContinueOnXoff = (f & DcbFlag::TXContinueOnXoff) != 0;
    dcb.fOutX = (f & DcbFlag::OutX) != 0;
    dcb.fInX = (f & DcbFlag::InX) != 0;
    dcb.fErrorChar = (f & DcbFlag::ErrorChar) != 0;
    dcb.fNull = (f & DcbFlag::Null) != 0;
    dcb.fRtsControl = (f & DcbFlag::RtsControlMask) >> DcbFlag::RtsControlShift;
    dcb.fAbortOnError = (f & DcbFlag::AbortOnError) != 0;
    dcb.XonLim = ADcb.XonLim;
    dcb.XoffLim = ADcb.XoffLim;
    dcb.ByteSize = ADcb.ByteSize;
    dcb.Parity = ADcb.Parity;
    dcb.StopBits = ADcb.StopBits;
    dcb.XonChar = ADcb.XonChar;
    dcb.XoffChar = ADcb.XoffChar;
    dcb.ErrorChar = ADcb.ErrorChar;
    dcb.EofChar = ADcb.EofChar;
    dcb.EvtChar = ADcb.EvtChar;
    return dcb;
}

TDCB FromDcb(const DCB& ADcb) {
    TDCB dcb;
    dcb.BaudRate = ADcb.BaudRate;
    std::uint32_t f = 0;
    f |= ADcb.fBinary ? DcbFlag::Binary : 0;
    f |= ADcb.fParity ? DcbFlag::Parity : 0;
    f |= ADcb.fOutxCtsFlow ? DcbFlag::OutxCtsFlow : 0;
    f |= ADcb.fOutxDsrFlow ? DcbFlag::OutxDsrFlow : 0;
    f |= static_cast<std::uint32_t>(ADcb.fDtrControl) << DcbFlag::DtrControlShift;
    f |= ADcb.fDsrSensitivity ? DcbFlag::DsrSensitivity : 0;
    f |= ADcb.fTXContinueOnXoff ? DcbFlag::TXContinueOnXoff : 0;
    f |= ADcb.fOutX ? DcbFlag::OutX : 0;
    f |= ADcb.fInX ? DcbFlag::InX : 0;
    f |= ADcb.fErrorChar ? DcbFlag::ErrorChar : 0;
    f |= ADcb.fNull ? DcbFlag::Null : 0;
    f |= static_cast<std::uint32_t>(ADcb.fRtsControl) << DcbFlag::RtsControlShift;
    f |= ADcb.fAbortOnError ? DcbFlag::AbortOnError : 0;
    dcb.Flags = f;
    dcb.XonLim = ADcb.XonLim;
    dcb.XoffLim = ADcb.XoffLim;
    dcb.ByteSize = ADcb.ByteSize;
    dcb.Parity = ADcb.Parity;
    dcb.StopBits = ADcb.StopBits;
    dcb.XonChar = ADcb.XonChar;
    dcb.XoffChar = ADcb.XoffChar;
    dcb.ErrorChar = ADcb.ErrorChar;
    dcb.EofChar = ADcb.EofChar;
    dcb.EvtChar = ADcb.EvtChar;
    return dcb;
}

class TWinEventWait final : public TEventWait {
public:
    explicit TWinEventWait(THandle AEvent)
        : FEvent(AEvent) {}

    bool Check(TWatchSet& AWatch) override {
        // A failed look (it cannot fail for a handle the port keeps open) is watched on: the
        // watch of a handle that is not signalled stays quiet, where reporting the event set
        // would make its owner look at the device again and again.
        if (::WaitForSingleObject(H(FEvent), 0) == WAIT_OBJECT_0) return true;
        AWatch.Fds.clear();
        AWatch.Handle = FEvent;
        AWatch.Deadline = TWatchSet::TClock::time_point::max();
        return false;
    }

private:
    const THandle FEvent;
};

class TWinComPlatform final : public TComPlatform {
public:
    TOsError CreateFileW(const std::string& APath, bool AOverlapped, THandle& AHandle) override {
        const HANDLE handle =
            ::CreateFileW(Wide(APath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, AOverlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const TOsError error = LastError();
            AHandle = InvalidHandle;
            return error;
        }
        AHandle = reinterpret_cast<THandle>(handle);
        return ERROR_SUCCESS;
    }

    TOsError CloseHandle(THandle AHandle) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        return Result(::CloseHandle(H(AHandle)));
    }

    TOsError SetupComm(THandle AHandle, std::uint32_t AInQueue, std::uint32_t AOutQueue) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        return Result(::SetupComm(H(AHandle), AInQueue, AOutQueue));
    }

    TOsError GetCommState(THandle AHandle, TDCB& ADcb) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        if (!::GetCommState(H(AHandle), &dcb)) return LastError();
        ADcb = FromDcb(dcb);
        return ERROR_SUCCESS;
    }

    TOsError SetCommState(THandle AHandle, const TDCB& ADcb) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        DCB dcb = ToDcb(ADcb);
        return Result(::SetCommState(H(AHandle), &dcb));
    }

    TOsError GetCommTimeouts(THandle AHandle, TCommTimeouts& ATimeouts) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        COMMTIMEOUTS t{};
        if (!::GetCommTimeouts(H(AHandle), &t)) return LastError();
        ATimeouts = {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                     t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                     t.WriteTotalTimeoutConstant};
        return ERROR_SUCCESS;
    }

    TOsError SetCommTimeouts(THandle AHandle, const TCommTimeouts& ATimeouts) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        COMMTIMEOUTS t{ATimeouts.ReadIntervalTimeout, ATimeouts.ReadTotalTimeoutMultiplier,
                       ATimeouts.ReadTotalTimeoutConstant, ATimeouts.WriteTotalTimeoutMultiplier,
                       ATimeouts.WriteTotalTimeoutConstant};
        return Result(::SetCommTimeouts(H(AHandle), &t));
    }

    TOsError GetCommMask(THandle AHandle, std::uint32_t& AMask) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        DWORD mask = 0;
        if (!::GetCommMask(H(AHandle), &mask)) return LastError();
        AMask = mask;
        return ERROR_SUCCESS;
    }

    TOsError SetCommMask(THandle AHandle, std::uint32_t AMask) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        return Result(::SetCommMask(H(AHandle), AMask));
    }

    TOsError WaitCommEvent(THandle AHandle, std::uint32_t* AEvtMask,
                           TOverlapped* AOverlapped) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
        return Result(
            ::WaitCommEvent(H(AHandle), reinterpret_cast<LPDWORD>(AEvtMask), O(AOverlapped)));
    }

    TOsError ReadFile(THandle AHandle, void* ABuffer, std::uint32_t ACount,
                      std::uint32_t* ATransferred, TOverlapped* AOverlapped) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        DWORD transferred = 0;
        const BOOL ok = ::ReadFile(H(AHandle), ABuffer, ACount, &transferred, O(AOverlapped));
        const TOsError error = ok ? ERROR_SUCCESS : LastError();
        if (ATransferred != nullptr) *ATransferred = transferred;
        return error;
    }

    TOsError WriteFile(THandle AHandle, const void* ABuffer, std::uint32_t ACount,
                       std::uint32_t* ATransferred, TOverlapped* AOverlapped) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        DWORD transferred = 0;
        const BOOL ok = ::WriteFile(H(AHandle), ABuffer, ACount, &transferred, O(AOverlapped));
        const TOsError error = ok ? ERROR_SUCCESS : LastError();
        if (ATransferred != nullptr) *ATransferred = transferred;
        return error;
    }

    TOsError GetOverlappedResult(THandle AHandle, TOverlapped* AOverlapped,
                                 std::uint32_t& ATransferred, bool AWait) override {
        // With the record's event the call never waits on the handle itself, so a completed
        // record reads as such even after the device was closed.
        if (Invalid(AHandle) && AOverlapped->hEvent == 0) return ERROR_INVALID_HANDLE;
        DWORD transferred = 0;
        const BOOL ok = ::GetOverlappedResult(H(AHandle), O(AOverlapped), &transferred, AWait);
        const TOsError error = ok ? ERROR_SUCCESS : LastError();
        ATransferred = transferred;
        return error;
    }

    TOsError ClearCommError(THandle AHandle, std::uint32_t& AErrors, TComStat* AStat) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(H(AHandle), &errors, &stat)) return LastError();
        AErrors = errors;
        if (AStat != nullptr) {
            std::uint32_t flags = 0;
            flags |= stat.fCtsHold ? ComStatFlag::CtsHold : 0;
            flags |= stat.fDsrHold ? ComStatFlag::DsrHold : 0;
            flags |= stat.fRlsdHold ? ComStatFlag::RlsdHold : 0;
            flags |= stat.fXoffHold ? ComStatFlag::XoffHold : 0;
            flags |= stat.fXoffSent ? ComStatFlag::XoffSent : 0;
            flags |= stat.fEof ? ComStatFlag::Eof : 0;
            flags |= stat.fTxim ? ComStatFlag::Txim : 0;
            AStat->Flags = flags;
            AStat->cbInQue = stat.cbInQue;
            AStat->cbOutQue = stat.cbOutQue;
        }
        return ERROR_SUCCESS;
    }

    TOsError PurgeComm(THandle AHandle, std::uint32_t AFlags) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        return Result(::PurgeComm(H(AHandle), AFlags));
    }

    TOsError EscapeCommFunction(THandle AHandle, std::uint32_t AFunction) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        return Result(::EscapeCommFunction(H(AHandle), AFunction));
    }

    TOsError GetCommModemStatus(THandle AHandle, std::uint32_t& AStatus) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        DWORD status = 0;
        if (!::GetCommModemStatus(H(AHandle), &status)) return LastError();
        AStatus = status;
        return ERROR_SUCCESS;
    }

    TOsError TransmitCommChar(THandle AHandle, char AChar) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        return Result(::TransmitCommChar(H(AHandle), AChar));
    }

    TOsError CancelIoEx(THandle AHandle, TOverlapped* AOverlapped) override {
        if (Invalid(AHandle)) return ERROR_INVALID_HANDLE;
        return Result(::CancelIoEx(H(AHandle), O(AOverlapped)));
    }

    TOsError CreateEventW(bool AManualReset, bool AInitialState, THandle& AEvent) override {
        const HANDLE event = ::CreateEventW(nullptr, AManualReset, AInitialState, nullptr);
        if (event == nullptr) {
            AEvent = 0;
            return LastError();
        }
        AEvent = reinterpret_cast<THandle>(event);
        return ERROR_SUCCESS;
    }

    TOsError SetEvent(THandle AEvent) override {
        if (Invalid(AEvent)) return ERROR_INVALID_HANDLE;
        return Result(::SetEvent(H(AEvent)));
    }

    TOsError ResetEvent(THandle AEvent) override {
        if (Invalid(AEvent)) return ERROR_INVALID_HANDLE;
        return Result(::ResetEvent(H(AEvent)));
    }

    TOsError WaitForMultipleObjects(std::uint32_t ACount, const THandle* AHandles, bool AWaitAll,
                                    std::uint32_t ATimeout, std::uint32_t& AResult) override {
        for (std::uint32_t i = 0; i < ACount; ++i) {
            if (Invalid(AHandles[i])) {
                AResult = WAIT_FAILED;
                return ERROR_INVALID_HANDLE;
            }
        }
        const DWORD result = ::WaitForMultipleObjects(
            ACount, reinterpret_cast<const HANDLE*>(AHandles), AWaitAll, ATimeout);
        AResult = result;
        return result == WAIT_FAILED ? LastError() : ERROR_SUCCESS;
    }

    void Sleep(std::uint32_t AMilliseconds) override { ::Sleep(AMilliseconds); }

    // The driver completes the operations by itself: a watch of the event is the whole wait,
    // and nothing else ever needs the wake-up.
    std::unique_ptr<TEventWait> WatchEvent(THandle AEvent,
                                           std::function<void()> /*AWake*/) override {
        if (Invalid(AEvent)) return nullptr;
        return std::make_unique<TWinEventWait>(AEvent);
    }

    TOsError SetCurrentThreadPriority(int APriority) override {
        return Result(::SetThreadPriority(::GetCurrentThread(), APriority));
    }

    TOsError RegCreateKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) override {
        HKEY key = nullptr;
        const LSTATUS status = ::RegCreateKeyExW(K(AKey), Wide(ASubKey).c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr);
        AResult = status == ERROR_SUCCESS ? reinterpret_cast<THKey>(key) : 0;
        return static_cast<TOsError>(status);
    }

    TOsError RegOpenKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) override {
        HKEY key = nullptr;
        const LSTATUS status = ::RegOpenKeyExW(K(AKey), Wide(ASubKey).c_str(), 0, KEY_READ, &key);
        AResult = status == ERROR_SUCCESS ? reinterpret_cast<THKey>(key) : 0;
        return static_cast<TOsError>(status);
    }

    TOsError RegCloseKey(THKey AKey) override {
        return static_cast<TOsError>(::RegCloseKey(K(AKey)));
    }

    TOsError RegSetValueExW(THKey AKey, const std::string& AName,
                            const TRegValue& AValue) override {
        const std::wstring name = Wide(AName);
        if (AValue.Type == REG_SZ || AValue.Type == REG_EXPAND_SZ) {
            const std::wstring text = Wide(AValue.Data);
            // Written with the terminating null character.
            const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
            return static_cast<TOsError>(
                ::RegSetValueExW(K(AKey), name.c_str(), 0, AValue.Type,
                                 reinterpret_cast<const BYTE*>(text.c_str()), bytes));
        }
        return static_cast<TOsError>(
            ::RegSetValueExW(K(AKey), name.c_str(), 0, AValue.Type,
                             reinterpret_cast<const BYTE*>(AValue.Data.data()),
                             static_cast<DWORD>(AValue.Data.size())));
    }

    TOsError RegQueryValueExW(THKey AKey, const std::string& AName, TRegValue& AValue) override {
        const std::wstring name = Wide(AName);
        DWORD type = 0;
        DWORD size = 0;
        LSTATUS status = ::RegQueryValueExW(K(AKey), name.c_str(), nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) return static_cast<TOsError>(status);
        std::vector<BYTE> data(size + sizeof(wchar_t));
        status = ::RegQueryValueExW(K(AKey), name.c_str(), nullptr, &type, data.data(), &size);
        if (status != ERROR_SUCCESS) return static_cast<TOsError>(status);
        AValue = FromRegistry(type, data.data(), size);
        return ERROR_SUCCESS;
    }

    TOsError RegEnumValueW(THKey AKey, std::uint32_t AIndex, std::size_t AMaxNameChars,
                           std::size_t AMaxDataBytes, std::string& AName,
                           TRegValue& AValue) override {
        std::vector<wchar_t> name(AMaxNameChars + 1);
        std::vector<BYTE> data(AMaxDataBytes + sizeof(wchar_t));
        auto nameLength = static_cast<DWORD>(name.size());
        auto dataSize = static_cast<DWORD>(AMaxDataBytes);
        DWORD type = 0;
        const LSTATUS status = ::RegEnumValueW(K(AKey), AIndex, name.data(), &nameLength, nullptr,
                                               &type, data.data(), &dataSize);
        if (status != ERROR_SUCCESS) return static_cast<TOsError>(status);
        AName = Utf8(name.data(), nameLength);
        AValue = FromRegistry(type, data.data(), dataSize);
        return ERROR_SUCCESS;
    }

    std::string GetPrivateProfileStringW(const std::string& ASection, const std::string& AKey,
                                         const std::string& ADefault, std::size_t ASize,
                                         const std::string& AFile) override {
        std::vector<wchar_t> buffer(ASize > 0 ? ASize : 1);
        const DWORD length = ::GetPrivateProfileStringW(
            Wide(ASection).c_str(), Wide(AKey).c_str(), Wide(ADefault).c_str(), buffer.data(),
            static_cast<DWORD>(buffer.size()), Wide(AFile).c_str());
        return Utf8(buffer.data(), length);
    }

    TOsError WritePrivateProfileStringW(const std::optional<std::string>& ASection,
                                        const std::optional<std::string>& AKey,
                                        const std::optional<std::string>& AValue,
                                        const std::string& AFile) override {
        if (!ASection && !AKey && !AValue) {
            // The flush returns zero by design and leaves the last error of an earlier call
            // (2 after reading a missing file): it has no outcome to report.
            ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, Wide(AFile).c_str());
            return ERROR_SUCCESS;
        }
        const std::wstring section = Wide(ASection.value_or(""));
        const std::wstring key = Wide(AKey.value_or(""));
        const std::wstring value = Wide(AValue.value_or(""));
        return Result(::WritePrivateProfileStringW(
            ASection ? section.c_str() : nullptr, AKey ? key.c_str() : nullptr,
            AValue ? value.c_str() : nullptr, Wide(AFile).c_str()));
    }

    int CompareStringW(const std::string& A, const std::string& B, bool AIgnoreCase) override {
        const std::wstring a = Wide(A);
        const std::wstring b = Wide(B);
        const int result =
            ::CompareStringW(LOCALE_USER_DEFAULT, AIgnoreCase ? NORM_IGNORECASE : 0, a.c_str(),
                             static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()));
        return result == 0 ? CompareResult::Equal : result;
    }
};

} // namespace

TComPlatform& TComPlatform::Native() {
    // Never destroyed: event threads of ports in static objects may still use it at exit.
    static TWinComPlatform* const platform = new TWinComPlatform();
    return *platform;
}

std::string OsErrorText(TOsError AError) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, AError, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string result = length != 0 ? Utf8(text, length) : std::string();
    if (text != nullptr) ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    if (result.empty()) result = "Error " + std::to_string(AError);
    return result;
}

bool IsDeviceGoneError(TOsError AError) {
    // What drivers of a pulled USB adapter fail the pending and later calls with.
    switch (AError) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}

} // namespace cport
