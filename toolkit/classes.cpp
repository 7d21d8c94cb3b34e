// TObject and TComponent.
#include "toolkit/classes.h"

#include <algorithm>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

TObject::~TObject() = default;

UnicodeString TObject::ClassName() const
{
    const char* Mangled = typeid(*this).name();
    int Status = 0;
    char* Demangled = abi::__cxa_demangle(Mangled, nullptr, nullptr, &Status);
    std::string Name = (Status == 0 && Demangled) ? Demangled : Mangled;
    std::free(Demangled);
    auto P = Name.rfind("::");
    if (P != std::string::npos) Name = Name.substr(P + 2);
    return Utf8ToUnicode(Name);
}

// ---------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* AOwner)
{
    if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent()
{
    Destroying();
    // Tell every linked component; each link is dropped on both sides before
    // the partner hears of it, so a Notification override that forgets the
    // inherited call cannot make this loop forever.
    while (!fFreeNotifies.empty()) {
        TComponent* Partner = fFreeNotifies.back();
        fFreeNotifies.pop_back();
        Partner->RemoveNotification(this);
        Partner->Notification(this, opRemove);
    }
    DestroyComponents();
    if (fOwner) fOwner->RemoveComponent(this);
}

void TComponent::SetName(const UnicodeString& Value) { fName = Value; }

int TComponent::ComponentIndex() const
{
    if (!fOwner) return -1;
    auto& L = fOwner->fComponents;
    auto It = std::find(L.begin(), L.end(), this);
    return It == L.end() ? -1 : static_cast<int>(It - L.begin());
}

TComponent* TComponent::FindComponent(const UnicodeString& AName) const
{
    if (AName.empty()) return nullptr;
    for (TComponent* C : fComponents)
        if (SameText(C->fName, AName)) return C;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent)
{
    if (!AComponent || AComponent->fOwner == this) return;
    if (AComponent->fOwner) AComponent->fOwner->RemoveComponent(AComponent);
    Insert(AComponent);
    // A component inserted into a loading owner loads with it.
    if (IsLoading()) AComponent->fComponentState << csLoading;
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent)
{
    if (!AComponent || AComponent->fOwner != this) return;
    Notification(AComponent, opRemove);
    Remove(AComponent);
}

void TComponent::DestroyComponents()
{
    // Last created first; each is taken out of the list before it is destroyed.
    // One that others link to (csFreeNotification) is removed with the notice,
    // which the owner passes on to its remaining components, so a sibling
    // that refers to it drops the link before it is used again.
    while (!fComponents.empty()) {
        TComponent* C = fComponents.back();
        if (C->fComponentState.Contains(csFreeNotification))
            RemoveComponent(C);
        else
            Remove(C);
        delete C;
    }
}

void TComponent::Insert(TComponent* AComponent)
{
    fComponents.push_back(AComponent);
    AComponent->fOwner = this;
}

void TComponent::Remove(TComponent* AComponent)
{
    auto It = std::find(fComponents.begin(), fComponents.end(), AComponent);
    if (It != fComponents.end()) fComponents.erase(It);
    AComponent->fOwner = nullptr;
}

void TComponent::SetDesigning(bool Value, bool SetChildren)
{
    if (Value)
        fComponentState << csDesigning;
    else
        fComponentState >> csDesigning;
    if (SetChildren)
        for (TComponent* C : fComponents) C->SetDesigning(Value, true);
}

void TComponent::BeginLoading()
{
    fComponentState << csLoading << csReading;
    for (TComponent* C : fComponents) C->BeginLoading();
}

void TComponent::EndLoading()
{
    // Copy: a LoadingFinished may create or free components.
    std::vector<TComponent*> Owned = fComponents;
    for (TComponent* C : Owned) {
        if (std::find(fComponents.begin(), fComponents.end(), C) == fComponents.end()) continue;
        if (C->IsLoading()) C->EndLoading();
    }
    if (IsLoading()) {
        fComponentState >> csReading;
        LoadingFinished();
    }
}

void TComponent::LoadingFinished() { fComponentState >> csLoading >> csReading; }

void TComponent::Destroying()
{
    if (IsDestroying()) return;
    fComponentState << csDestroying;
    for (TComponent* C : fComponents) C->Destroying();
}

void TComponent::FreeNotification(TComponent* AComponent)
{
    if (!AComponent || AComponent == this) return;
    // Components of the same owner hear of each other through the owner.
    if (!fOwner || AComponent->fOwner != fOwner) {
        if (std::find(fFreeNotifies.begin(), fFreeNotifies.end(), AComponent) == fFreeNotifies.end()) {
            fFreeNotifies.push_back(AComponent);
            AComponent->FreeNotification(this);
        }
    }
    fComponentState << csFreeNotification;
}

void TComponent::RemoveFreeNotification(TComponent* AComponent)
{
    if (!AComponent) return;
    RemoveNotification(AComponent);
    AComponent->RemoveNotification(this);
}

void TComponent::RemoveNotification(TComponent* AComponent)
{
    auto It = std::find(fFreeNotifies.begin(), fFreeNotifies.end(), AComponent);
    if (It != fFreeNotifies.end()) fFreeNotifies.erase(It);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation)
{
    if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
    // Pass on to the owned components, last first; a handler may free some.
    int I = ComponentCount() - 1;
    while (I >= 0) {
        TComponent* C = fComponents[static_cast<std::size_t>(I)];
        if (C != AComponent) C->Notification(AComponent, Operation);
        --I;
        if (I >= ComponentCount()) I = ComponentCount() - 1;
    }
}
