#include "Component.h"

#include <algorithm>

namespace cport {

namespace {
void Erase(std::vector<TComponent*>& AList, TComponent* AItem) {
    AList.erase(std::remove(AList.begin(), AList.end(), AItem), AList.end());
}
} // namespace

TComponent::TComponent(TComponent* AOwner)
    : FOwner(nullptr) {
    if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    FComponentState.Include(csDestroying);
    // Tell everyone who refers to us first, so that no owned component sees a dangling
    // reference while it is destroyed below.
    while (!FFreeNotifies.empty()) {
        TComponent* other = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        Erase(other->FFreeNotifies, this);
        other->Notification(this, opRemove);
    }
    while (!FComponents.empty()) {
        TComponent* child = FComponents.back();
        delete child; // removes itself from FComponents
    }
    if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

void TComponent::SetDesigning(bool AValue) {
    if (AValue)
        FComponentState.Include(csDesigning);
    else
        FComponentState.Exclude(csDesigning);
}

void TComponent::SetLoading() {
    FComponentState.Include(csLoading);
}

void TComponent::Loaded() {
    FComponentState.Exclude(csLoading);
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent == this) return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
        FFreeNotifies.push_back(AComponent);
    if (std::find(AComponent->FFreeNotifies.begin(), AComponent->FFreeNotifies.end(), this) ==
        AComponent->FFreeNotifies.end())
        AComponent->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr) return;
    Erase(FFreeNotifies, AComponent);
    Erase(AComponent->FFreeNotifies, this);
}

void TComponent::Notification(TComponent* AComponent, TOperation AOperation) {
    // Owned components hear about the removal of their siblings, as they may refer to them.
    if (AOperation == opRemove)
        for (TComponent* child : std::vector<TComponent*>(FComponents))
            if (child != AComponent) child->Notification(AComponent, AOperation);
}

void TComponent::InsertComponent(TComponent* AComponent) {
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
    Notification(AComponent, opRemove);
    Erase(FComponents, AComponent);
    AComponent->FOwner = nullptr;
}

} // namespace cport
