#include "Component.h"

#include <gtest/gtest.h>

#include <vector>

namespace cport {
namespace {

// Records the removal notices it hears and forgets the component it refers to.
class TWatcher : public TComponent {
public:
    explicit TWatcher(TComponent* AOwner, std::vector<std::string>* ALog = nullptr)
        : TComponent(AOwner)
        , FLog(ALog) {}
    ~TWatcher() override {
        if (FLog != nullptr) FLog->push_back("destroyed " + Name());
    }
    TComponent* Watched = nullptr;
    int Removals = 0;

protected:
    void Notification(TComponent* AComponent, TOperation AOperation) override {
        TComponent::Notification(AComponent, AOperation);
        if (AOperation == opRemove && AComponent == Watched) {
            Watched = nullptr;
            ++Removals;
        }
    }

private:
    std::vector<std::string>* FLog;
};

TEST(Component, OwnerDestroysWhatItOwns) {
    std::vector<std::string> log;
    auto* owner = new TWatcher(nullptr, &log);
    owner->SetName("owner");
    auto* a = new TWatcher(owner, &log);
    a->SetName("a");
    auto* b = new TWatcher(owner, &log);
    b->SetName("b");
    EXPECT_EQ(owner->ComponentCount(), 2u);
    EXPECT_EQ(a->Owner(), owner);
    delete owner;
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "destroyed owner");
    // Owned components go after the owner's own part, the last created first.
    EXPECT_EQ(log[1], "destroyed b");
    EXPECT_EQ(log[2], "destroyed a");
}

TEST(Component, DestroyingAnOwnedComponentRemovesItFromItsOwner) {
    TComponent owner(nullptr);
    auto* child = new TComponent(&owner);
    EXPECT_EQ(owner.ComponentCount(), 1u);
    delete child;
    EXPECT_EQ(owner.ComponentCount(), 0u);
}

TEST(Component, RemovalNoticeReachesWhoAskedEitherWay) {
    TWatcher watcher(nullptr);
    {
        TComponent watched(nullptr);
        watched.FreeNotification(&watcher);
        watcher.Watched = &watched;
    }
    EXPECT_EQ(watcher.Watched, nullptr);
    EXPECT_EQ(watcher.Removals, 1);

    // The watcher may go first; the other side must then not notify a destroyed object.
    TWatcher survivor(nullptr);
    {
        TWatcher shortLived(nullptr);
        survivor.FreeNotification(&shortLived);
        shortLived.Watched = &survivor;
    }
    EXPECT_EQ(survivor.Removals, 0);
}

TEST(Component, NoticeStopsAfterItIsWithdrawn) {
    TWatcher watcher(nullptr);
    {
        TComponent watched(nullptr);
        watched.FreeNotification(&watcher);
        watched.FreeNotification(&watcher); // asking twice gives one notice
        watcher.Watched = &watched;
        watched.RemoveFreeNotification(&watcher);
    }
    EXPECT_EQ(watcher.Removals, 0);
}

TEST(Component, SiblingsHearAboutEachOthersRemoval) {
    TComponent form(nullptr);
    auto* watcher = new TWatcher(&form);
    auto* other = new TComponent(&form);
    watcher->Watched = other;
    delete other;
    EXPECT_EQ(watcher->Watched, nullptr);
}

TEST(Component, DesignAndLoadStates) {
    TComponent c(nullptr);
    EXPECT_FALSE(c.Designing());
    EXPECT_FALSE(c.Loading());
    c.SetLoading();
    EXPECT_TRUE(c.Loading());
    c.Loaded();
    EXPECT_FALSE(c.Loading());
    c.SetDesigning(true);
    EXPECT_TRUE(c.ComponentState().Contains(csDesigning));
    c.SetDesigning(false);
    EXPECT_FALSE(c.Designing());
}

} // namespace
} // namespace cport
