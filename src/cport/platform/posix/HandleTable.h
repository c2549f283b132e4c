// The handles of the POSIX platform's open devices and events: numbers of its own, valid in
// every thread until closed, as the handles of Windows are.
#pragma once

#include "platform/ComPlatform.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>

namespace cport {

class TDevice;
class TEvent;

class THandleTable {
public:
    THandleTable() = default;
    // Closes every device still open.
    ~THandleTable();
    THandleTable(const THandleTable&) = delete;
    THandleTable& operator=(const THandleTable&) = delete;

    THandle Add(std::shared_ptr<TDevice> ADevice);
    THandle Add(std::shared_ptr<TEvent> AEvent);
    // The object behind AHandle, when it is a T (TDevice or TEvent); InvalidHandle when the
    // handle is not open or names the other kind, as on Windows.
    template <typename T>
    TOsError Find(THandle AHandle, std::shared_ptr<T>& AObject) {
        std::lock_guard lock(FLock);
        const auto entry = FHandles.find(AHandle);
        if (entry == FHandles.end()) return WinError::InvalidHandle;
        auto* object = std::get_if<std::shared_ptr<T>>(&entry->second);
        if (object == nullptr) return WinError::InvalidHandle;
        AObject = *object;
        return 0;
    }
    // Removes the handle; a device is closed, an event lives on while operations or waits
    // still hold it.
    TOsError Close(THandle AHandle);

private:
    using TObject = std::variant<std::shared_ptr<TDevice>, std::shared_ptr<TEvent>>;
    THandle AddObject(TObject AObject);

    std::mutex FLock;
    std::unordered_map<THandle, TObject> FHandles;
    // Handles count up and are never reused while the table lives, as an aid against a
    // handle used after it was closed; small values stay free, like on Windows.
    THandle FNext = 0x100;
};

} // namespace cport
