// The component base: an owner that destroys what it owns, a name, the "being designed" and
// "being loaded" states, and removal notices between components that refer to each other.
#pragma once

#include "Set.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cport {

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

enum TComponentStateFlag : std::uint8_t {
    csDesigning,
    csLoading,
    csDestroying
};
using TComponentState = TSet<TComponentStateFlag, std::uint8_t>;

enum TOperation : std::uint8_t {
    opInsert,
    opRemove
};

class TComponent : public TObject {
public:
    // A component with an owner is destroyed by that owner, so it must live on the heap
    // unless it is destroyed before its owner.
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;

    TComponent* Owner() const { return FOwner; }
    const std::string& Name() const { return FName; }
    void SetName(const std::string& AName) { FName = AName; }

    TComponentState ComponentState() const { return FComponentState; }
    bool Designing() const { return FComponentState.Contains(csDesigning); }
    bool Loading() const { return FComponentState.Contains(csLoading); }

    // The designer marks a component that it edits; nothing then touches a device.
    void SetDesigning(bool AValue);
    // The form loader marks a component before it sets the stored properties and calls
    // Loaded when all of them are in place.
    void SetLoading();
    virtual void Loaded();

    // Asks this component to tell AComponent (through Notification with opRemove) when it is
    // destroyed; the request works both ways, so either may go first.
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

    std::size_t ComponentCount() const { return FComponents.size(); }
    TComponent* Components(std::size_t AIndex) const { return FComponents.at(AIndex); }

protected:
    // Called on the owner and on every component that asked for removal notices.
    virtual void Notification(TComponent* AComponent, TOperation AOperation);

private:
    void InsertComponent(TComponent* AComponent);
    void RemoveComponent(TComponent* AComponent);

    TComponent* FOwner;
    std::string FName;
    TComponentState FComponentState;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
};

} // namespace cport
