#include "HandleTable.h"

#include "Device.h"
#include "Events.h"

namespace cport {

THandleTable::~THandleTable() {
    std::unordered_map<THandle, TObject> handles;
    {
        std::lock_guard lock(FLock);
        handles.swap(FHandles);
    }
    for (auto& [handle, object] : handles)
        if (auto* device = std::get_if<std::shared_ptr<TDevice>>(&object)) (*device)->Close();
}

THandle THandleTable::AddObject(TObject AObject) {
    std::lock_guard lock(FLock);
    const THandle handle = FNext;
    FNext += 4;
    FHandles.emplace(handle, std::move(AObject));
    return handle;
}

THandle THandleTable::Add(std::shared_ptr<TDevice> ADevice) {
    return AddObject(std::move(ADevice));
}

THandle THandleTable::Add(std::shared_ptr<TEvent> AEvent) {
    return AddObject(std::move(AEvent));
}

TOsError THandleTable::Close(THandle AHandle) {
    TObject object;
    {
        std::lock_guard lock(FLock);
        const auto entry = FHandles.find(AHandle);
        if (entry == FHandles.end()) return WinError::InvalidHandle;
        object = std::move(entry->second);
        FHandles.erase(entry);
        FCloses.fetch_add(1, std::memory_order_release);
    }
    if (auto* device = std::get_if<std::shared_ptr<TDevice>>(&object)) (*device)->Close();
    return 0;
}

} // namespace cport
