// The handles of the POSIX platform's open devices and events: numbers of its own, valid in
// every thread until closed, as the handles of Windows are.
#pragma once

#include "platform/ComPlatform.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
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
    // handle is not open or names the other kind, as on Windows. AObject points to the calling
    // thread's own reference, which holds the object until the thread's next lookup of a T: a
    // call of the platform looks up at most one object of each kind and needs no copy.
    template <typename T>
    TOsError Lookup(THandle AHandle, const std::shared_ptr<T>*& AObject) {
        // Every call of the platform looks its handles up, several per event of a port: a
        // thread's last few lookups are taken again without the lock while no handle has been
        // closed since (handles are never reused, so an open one names the same object). The
        // last one found comes first: a port's calls mostly name the same device.
        TCache<T>& cache = Cache<T>();
        const std::uint64_t closes = FCloses.load(std::memory_order_acquire);
        for (std::size_t i = 0; i < cache.size(); ++i) {
            TCached<T>& cached = cache[i];
            if (cached.Handle != AHandle || cached.Table != FId || cached.Closes != closes)
                continue;
            if (i != 0) std::swap(cache[0], cached);
            AObject = &cache[0].Object;
            return 0;
        }
        return Fetch(AHandle, closes, cache, AObject);
    }
    // The same with a reference of the caller's own.
    template <typename T>
    TOsError Find(THandle AHandle, std::shared_ptr<T>& AObject) {
        const std::shared_ptr<T>* object = nullptr;
        const TOsError error = Lookup(AHandle, object);
        if (error == 0) AObject = *object;
        return error;
    }
    // Removes the handle; a device is closed, an event lives on while operations or waits
    // still hold it.
    TOsError Close(THandle AHandle);

private:
    using TObject = std::variant<std::shared_ptr<TDevice>, std::shared_ptr<TEvent>>;
    template <typename T>
    struct TCached {
        THandle Handle = 0;
        std::uint64_t Table = 0;
        std::uint64_t Closes = 0;
        std::shared_ptr<T> Object;
    };
    template <typename T>
    using TCache = std::array<TCached<T>, 4>;

    template <typename T>
    static TCache<T>& Cache() {
        thread_local TCache<T> cache;
        return cache;
    }

    // A lookup the cache missed: the table's entry becomes the cache's first, the last goes.
    template <typename T>
    [[gnu::noinline]] TOsError Fetch(THandle AHandle, std::uint64_t ACloses, TCache<T>& ACache,
                                     const std::shared_ptr<T>*& AObject) {
        std::shared_ptr<T> found;
        {
            std::lock_guard lock(FLock);
            const auto entry = FHandles.find(AHandle);
            if (entry == FHandles.end()) return WinError::InvalidHandle;
            auto* object = std::get_if<std::shared_ptr<T>>(&entry->second);
            if (object == nullptr) return WinError::InvalidHandle;
            found = *object;
        }
        // The entry dropped lets its object go here, outside the table's lock.
        std::rotate(ACache.rbegin(), ACache.rbegin() + 1, ACache.rend());
        ACache[0] = {AHandle, FId, ACloses, std::move(found)};
        AObject = &ACache[0].Object;
        return 0;
    }
    THandle AddObject(TObject AObject);

    std::mutex FLock;
    std::unordered_map<THandle, TObject> FHandles;
    // Tells the lookups' caches apart from those of other tables, and outdates them.
    const std::uint64_t FId = ++Tables;
    std::atomic<std::uint64_t> FCloses{0};
    static inline std::atomic<std::uint64_t> Tables{0};
    // Handles count up and are never reused while the table lives, as an aid against a
    // handle used after it was closed; small values stay free, like on Windows.
    THandle FNext = 0x100;
};

} // namespace cport
