#pragma once

#include "Component.h"

#include <functional>
#include <utility>

namespace cport {

// Hears the removal notice of one component on behalf of an object that is not a component (a
// Qt widget, a window) and tells it through ARemoved.
class TRemovalWatch : public TComponent {
public:
    explicit TRemovalWatch(std::function<void()> ARemoved)
        : TComponent(nullptr)
        , FRemoved(std::move(ARemoved)) {}

    // Asks AComponent (none: nobody) for its removal notice; notices about components watched
    // before are ignored from now on.
    void Watch(TComponent* AComponent) {
        FWatched = AComponent;
        if (AComponent != nullptr) AComponent->FreeNotification(this);
    }

protected:
    void Notification(TComponent* AComponent, TOperation AOperation) override {
        TComponent::Notification(AComponent, AOperation);
        // Compared as components: by now the watched object's own destructor has run.
        if (AOperation != opRemove || AComponent != FWatched) return;
        FWatched = nullptr;
        FRemoved();
    }

private:
    std::function<void()> FRemoved;
    TComponent* FWatched = nullptr;
};

} // namespace cport
