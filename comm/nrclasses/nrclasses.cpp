// Vocabulary mappings, the notification list and the window timer.
#include "comm/nrclasses/nrclasses.h"

#include "toolkit/extctrls.h"

#include <cstddef>

// ---------------------------------------------------------------------------
// Win32 mappings

DWORD TraceStatesToEventMask(TTraceStates States)
{
    DWORD mask = 0;
    for (unsigned s = tsRxChar; s <= tsEvent2; ++s)
        if (States.Contains(static_cast<TTraceState>(s))) mask |= TraceStateEvent(static_cast<TTraceState>(s));
    return mask;
}

TTraceStates EventMaskToTraceStates(DWORD Mask)
{
    TTraceStates states;
    for (unsigned s = tsRxChar; s <= tsEvent2; ++s)
        if (Mask & TraceStateEvent(static_cast<TTraceState>(s))) states.Include(static_cast<TTraceState>(s));
    return states;
}

TModemSignals ModemStatusToSignals(DWORD ModemStatus)
{
    TModemSignals signals;
    if (ModemStatus & MS_CTS_ON) signals.Include(msCTS);
    if (ModemStatus & MS_DSR_ON) signals.Include(msDSR);
    if (ModemStatus & MS_RING_ON) signals.Include(msRing);
    if (ModemStatus & MS_RLSD_ON) signals.Include(msRLSD);
    return signals;
}

TComStateFlags ComStatToStateFlags(const COMSTAT& Stat)
{
    // The status bit fields share the record's first word; bits 0..6 are the flags.
    DWORD first = 0;
    std::memcpy(&first, &Stat, sizeof(first));
    return TComStateFlags::FromBits(static_cast<uint8_t>(first & 0x7F));
}

// ---------------------------------------------------------------------------
// TnrNotifyList

TnrNotifyList::~TnrNotifyList()
{
    *fAlive = false;
    Clear();
}

void TnrNotifyList::CheckIndex(int Index) const
{
    if (Index < 0 || Index >= Count()) throw EListError(Format(RuntimeText::ListIndexError, {Index}));
}

int TnrNotifyList::Add(const TnrNotifyEvent& Item)
{
    fItems.push_back(new TnrNotifyEvent(Item));
    return Count() - 1;
}

void TnrNotifyList::Delete(int Index)
{
    CheckIndex(Index);
    delete fItems[static_cast<std::size_t>(Index)];
    fItems.erase(fItems.begin() + Index);
}

void TnrNotifyList::Clear()
{
    for (TnrNotifyEvent* item : fItems) delete item;
    fItems.clear();
}

int TnrNotifyList::IndexOf(const TnrNotifyEvent& Item) const
{
    for (int i = 0; i < Count(); ++i)
        if (*fItems[static_cast<std::size_t>(i)] == Item) return i;
    return -1;
}

TnrNotifyEvent TnrNotifyList::Get(int Index) const
{
    CheckIndex(Index);
    return *fItems[static_cast<std::size_t>(Index)];
}

void TnrNotifyList::Put(int Index, const TnrNotifyEvent& Item)
{
    CheckIndex(Index);
    *fItems[static_cast<std::size_t>(Index)] = Item;
}

void TnrNotifyList::Call(TObject* Sender, int Code)
{
    const std::shared_ptr<bool> alive = fAlive;
    const int n = Count();
    for (int i = 0; i < n && *alive; ++i) {
        // A copy: the handler may replace its own entry.
        TnrNotifyEvent e = Get(i);
        e(Sender, Code);
    }
}

// ---------------------------------------------------------------------------
// TnrTimer

TnrTimer::TnrTimer()
{
    FWindowHandle = new TTimer(nullptr);
    FWindowHandle->SetEnabled(false);
    FWindowHandle->SetOnTimer([this](TObject*) { WndProcTick(); });
}

TnrTimer::~TnrTimer()
{
    FEnabled = false;
    RearmTimer();
    delete FWindowHandle;
    FWindowHandle = nullptr;
}

void TnrTimer::RearmTimer()
{
    // Kill always, then set again when the timer may run: a full new period.
    FWindowHandle->SetEnabled(false);
    if (FInterval != 0 && FEnabled && FOnTimer) {
        FWindowHandle->SetInterval(FInterval);
        FWindowHandle->SetEnabled(true);
    }
}

bool TnrTimer::IsArmed() const { return FWindowHandle->Enabled(); }

void TnrTimer::SetEnabled(bool Value)
{
    if (Value == FEnabled) return;
    FEnabled = Value;
    RearmTimer();
}

void TnrTimer::SetInterval(uint32_t Value)
{
    if (Value == FInterval) return;
    FInterval = Value;
    RearmTimer();
}

void TnrTimer::SetOnTimer(const TNotifyEvent& Value)
{
    FOnTimer = Value;
    RearmTimer();
}

void TnrTimer::DoTimer()
{
    if (FEnabled && FOnTimer) FOnTimer(this);
}

void TnrTimer::WndProcTick()
{
    // An error of the handler is discarded; the timer stays armed.
    try {
        DoTimer();
    } catch (...) {
    }
}
