// nrclasses: the vocabulary of the component library, the base I/O component
// TnrBaseIO with its worker thread, the notification list, the window timer,
// the data-processor and log-sink base classes and the device record.
//
// Property scheme (used throughout comm/): a property P is a reader GetP()
// and, unless read-only, a writer SetP(Value); its storage is the field fP
// (or the field the component's documentation names, e.g. hPort for Handle).
// Where the library names the accessor itself (GetDevice, CountDevices,
// GetDeviceIndex/SetDeviceIndex, QueryComName, ReadEventChar/WriteEventChar)
// that operation is the accessor; Get/Set forwarders are added where the
// property name differs (GetDeviceCount, GetComName, GetEventChar ...).
// Indexed properties take the index as first argument (GetDevice(Index)).
//
// Events are std::function closures that may be empty; every raise site tests
// them first. In/out flags are reference parameters (RaiseException,
// flFlashBuffers, flIgnore, flHandled). Enumerations are one-byte unscoped
// enums whose value names are used as such; sets are TnrSet<> bit sets with
// bit n standing for ordinal n.
#pragma once

#include <winapi.h>

#include "platform/dcb_flags.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <type_traits>
#include <vector>

#include "toolkit/classes.h"
#include "toolkit/forms.h"
#include "toolkit/sysutils.h"

class TnrBaseIO;
class TnrCustomDataProcessor;
class TnrCustomLogFile;
class TnrDevice;
class TnrThreadIO;
class TTimer;

// ---------------------------------------------------------------------------
// Enumerations (one byte each, ordinals from 0 in the order given)

enum TComPort : uint8_t { cpCOM1, cpCOM2, cpCOM3, cpCOM4, cpCOM5, cpCOM6, cpCOM7, cpCOM8, cpCOMxx };

enum TTraceState : uint8_t {
    tsRxChar,
    tsRxFlag,
    tsTxEmpty,
    tsCTS,
    tsDSR,
    tsRLSD,
    tsBreak,
    tsErr,
    tsRing,
    tsRx80Full,
    tsEvent1,
    tsEvent2
};

enum TModemSignal : uint8_t { msCTS, msDSR, msRing, msRLSD };

enum TStreamProtocol : uint8_t { spNone, spXonXoff, spHardware };

// Stored unchanged in DCB.Parity (NOPARITY .. SPACEPARITY).
enum TParity : uint8_t { pNone, pOdd, pEven, pMark, pSpace };

// Stored unchanged in DCB.StopBits (ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS).
enum TStopBits : uint8_t { sbOne, sbOneAndHalf, sbTwo };

enum TnrEnumPorts : uint8_t { epQuickAll, epFullInfo, epFullPresent };

enum TTerminalUsage : uint8_t { tuNone, tuSend, tuReceive, tuBoth };

enum TDetailLevel : uint8_t { dlSimple, dlDetail, dlDebug };

enum TIgnoreType : uint8_t { itTerminal, itEventList, itAfterReceive, itTraceState };

// Bits 0..6 of the first COMSTAT word.
enum TComStateFlag : uint8_t { fCtlHold, fDsrHold, fRlsHold, fXoffHold, fXOffSent, fEof, fTxim };

// TThreadPriority (tpIdle .. tpTimeCritical) is the runtime's, toolkit/classes.h.

// ---------------------------------------------------------------------------
// Sets: one bit per member, bit n for ordinal n, stored in Bits.

template <class E, class Bits>
class TnrSet {
public:
    using Element = E;
    using Storage = Bits;

    constexpr TnrSet() = default;
    constexpr TnrSet(std::initializer_list<E> Members)
    {
        for (E e : Members) fBits = static_cast<Bits>(fBits | Bit(e));
    }
    static constexpr TnrSet FromBits(Bits Value)
    {
        TnrSet s;
        s.fBits = Value;
        return s;
    }

    constexpr Bits ToBits() const { return fBits; }
    constexpr bool Contains(E e) const { return (fBits & Bit(e)) != 0; }
    constexpr bool Empty() const { return fBits == 0; }
    constexpr TnrSet& Include(E e)
    {
        fBits = static_cast<Bits>(fBits | Bit(e));
        return *this;
    }
    constexpr TnrSet& Exclude(E e)
    {
        fBits = static_cast<Bits>(fBits & ~Bit(e));
        return *this;
    }

    constexpr TnrSet& operator+=(TnrSet o)
    {
        fBits = static_cast<Bits>(fBits | o.fBits);
        return *this;
    }
    constexpr TnrSet& operator-=(TnrSet o)
    {
        fBits = static_cast<Bits>(fBits & ~o.fBits);
        return *this;
    }
    // a <= b: every member of a is in b.
    constexpr bool operator<=(TnrSet o) const { return (fBits & ~o.fBits) == 0; }

    friend constexpr TnrSet operator+(TnrSet a, TnrSet b) { return FromBits(static_cast<Bits>(a.fBits | b.fBits)); }
    friend constexpr TnrSet operator-(TnrSet a, TnrSet b) { return FromBits(static_cast<Bits>(a.fBits & ~b.fBits)); }
    friend constexpr TnrSet operator*(TnrSet a, TnrSet b) { return FromBits(static_cast<Bits>(a.fBits & b.fBits)); }
    friend constexpr bool operator==(TnrSet a, TnrSet b) { return a.fBits == b.fBits; }
    friend constexpr bool operator!=(TnrSet a, TnrSet b) { return a.fBits != b.fBits; }

private:
    static constexpr Bits Bit(E e) { return static_cast<Bits>(Bits(1) << static_cast<unsigned>(e)); }
    Bits fBits = 0;
};

using TTraceStates = TnrSet<TTraceState, uint16_t>;     // bits 0..11
using TModemSignals = TnrSet<TModemSignal, uint8_t>;    // bits 0..3
using TIgnoreTypes = TnrSet<TIgnoreType, uint8_t>;      // bits 0..3
using TComStateFlags = TnrSet<TComStateFlag, uint8_t>;  // bits 0..6

// ---------------------------------------------------------------------------
// Win32 mappings of the vocabulary

// The EV_* event that a trace state stands for (bit values differ from
// tsRx80Full on; EV_PERR has no member).
constexpr DWORD TraceStateEvent(TTraceState s)
{
    constexpr DWORD table[] = {0x0001, 0x0002, 0x0004, 0x0008, 0x0010, 0x0020,
                               0x0040, 0x0080, 0x0100, 0x0400, 0x0800, 0x1000};
    return static_cast<unsigned>(s) < 12 ? table[s] : 0;
}
// Every member's EV_* bit; tsRxChar gives EV_RXCHAR. The writer of TraceStates
// adds EV_RXCHAR (and EV_TXEMPTY under RS485 emulation) itself.
DWORD TraceStatesToEventMask(TTraceStates States);
// Every EV_* bit that has a member; EV_PERR and unknown bits are dropped.
TTraceStates EventMaskToTraceStates(DWORD Mask);

// GetCommModemStatus bits (MS_CTS_ON 0x10 .. MS_RLSD_ON 0x80) as a set.
TModemSignals ModemStatusToSignals(DWORD ModemStatus);
// The status flags of a COMSTAT record (low byte of its first word) as a set.
TComStateFlags ComStatToStateFlags(const COMSTAT& Stat);

// The DCB's flags word (the bit fields after BaudRate) as one 32-bit value.
inline DWORD GetDcbFlags(const DCB& Dcb) { return platform::DcbFlags(Dcb); }
using platform::SetDcbFlags;

// DCB flag groups of the stream protocols and of RS485 mode.
constexpr DWORD DCB_FLAGS_KEEP_MASK = 0x4CEA;  // bits ApplyCommState leaves as they are
constexpr DWORD DCB_FLAGS_NONE = 0x1011;       // fBinary, DTR enable, RTS enable
constexpr DWORD DCB_FLAGS_XONXOFF = 0x1311;    // as none, plus fOutX and fInX
constexpr DWORD DCB_FLAGS_HARDWARE = 0x2015;   // fBinary, fOutxCtsFlow, DTR enable, RTS handshake
constexpr DWORD DCB_FLAGS_RS485 = 0x3011;      // fBinary, DTR enable, RTS toggle
constexpr DWORD DCB_FLAG_PARITY = platform::kDcbParity;

// ---------------------------------------------------------------------------
// Notification codes announced through a component's notification list

constexpr int NOTIFY_DEVICE_CLOSED = 1;
constexpr int NOTIFY_DEVICE_OPENED = 2;
constexpr int NOTIFY_DEVICE_LIST_CHANGED = 3;

// ---------------------------------------------------------------------------
// Event signatures

using TOnReceived = std::function<void(TObject* Com, const uint8_t* Buffer, uint32_t Received)>;
using TOnSent = std::function<void(TObject* Com)>;
using TOnTraceEvent = std::function<void(TObject* Com, TTraceStates Event)>;
using TOnCommErrorEvent =
    std::function<void(TObject* Com, uint32_t CommCode, uint32_t SysError, TComStateFlags State, bool& flFlashBuffers)>;
using TOnFatalErrorEvent = std::function<void(TObject* Sender, uint32_t ErrorCode, uint32_t Detail,
                                              const UnicodeString& ErrorMsg, bool& RaiseException)>;
using TDataSendEvent =
    std::function<void(TObject* Sender, char* ptrBuffer, uint32_t Len, bool flSynchro, bool& flHandled)>;

// A notification callback: a method bound to an object. Unlike a plain
// closure it has an identity, the pair (method, object), so a list can find
// and remove the entry that a subscriber added.
class TnrNotifyEvent {
public:
    TnrNotifyEvent() = default;

    // Binds Method to Object: TnrNotifyEvent::Bind(this, &TMyBox::DeviceNotify).
    template <class T>
    static TnrNotifyEvent Bind(T* Object, void (T::*Method)(TObject* Sender, int Code))
    {
        static_assert(sizeof(Method) <= sizeof(MethodKey), "member pointer too large");
        TnrNotifyEvent e;
        e.fObject = Object;
        if constexpr (std::is_base_of_v<TObject, T>) e.fTarget = Object;
        std::memcpy(e.fMethod.data(), &Method, sizeof(Method));
        e.fInvoke = [Object, Method](TObject* Sender, int Code) { (Object->*Method)(Sender, Code); };
        return e;
    }

    bool Assigned() const { return static_cast<bool>(fInvoke); }
    const void* Object() const { return fObject; }
    // The bound object when it is a TObject (null otherwise).
    TObject* Target() const { return fTarget; }
    // Whether the entry calls Method (of whatever object it is bound to).
    template <class T>
    bool IsMethod(void (T::*Method)(TObject* Sender, int Code)) const
    {
        MethodKey key{};
        std::memcpy(key.data(), &Method, sizeof(Method));
        return key == fMethod;
    }
    void operator()(TObject* Sender, int Code) const
    {
        if (fInvoke) fInvoke(Sender, Code);
    }
    // Same method bound to the same object.
    friend bool operator==(const TnrNotifyEvent& a, const TnrNotifyEvent& b)
    {
        return a.fObject == b.fObject && a.fMethod == b.fMethod;
    }

private:
    using MethodKey = std::array<unsigned char, 4 * sizeof(void*)>;
    const void* fObject = nullptr;
    TObject* fTarget = nullptr;
    MethodKey fMethod{};
    std::function<void(TObject*, int)> fInvoke;
};

// ---------------------------------------------------------------------------
// TnrNotifyList: the notification callbacks of a component. The list owns a
// heap cell per entry; order is insertion order; no lock (use it on the
// thread that runs Call).

class TnrNotifyList : public TObject {
public:
    TnrNotifyList() = default;
    ~TnrNotifyList() override;
    TnrNotifyList(const TnrNotifyList&) = delete;
    TnrNotifyList& operator=(const TnrNotifyList&) = delete;

    int Add(const TnrNotifyEvent& Item);
    void Delete(int Index);  // EListError for a bad index
    void Clear();
    int IndexOf(const TnrNotifyEvent& Item) const;
    TnrNotifyEvent Get(int Index) const;
    void Put(int Index, const TnrNotifyEvent& Item);
    int Count() const { return static_cast<int>(fItems.size()); }
    // Calls every entry with (Sender, Code); the count is read once. An error
    // raised by a handler ends the call, and so does a handler that destroys
    // the list (with its component).
    void Call(TObject* Sender, int Code);

private:
    void CheckIndex(int Index) const;
    std::vector<TnrNotifyEvent*> fItems;
    // Cleared by the destructor; a running Call holds a reference.
    std::shared_ptr<bool> fAlive = std::make_shared<bool>(true);
};

// ---------------------------------------------------------------------------
// TnrTimer: a millisecond timer that ticks on the creating thread while it
// dispatches messages. Armed exactly while interval != 0, enabled and a
// handler is set; every setter kills and re-arms it (a full new period).

class TnrTimer : public TObject {
public:
    TnrTimer();
    ~TnrTimer() override;
    TnrTimer(const TnrTimer&) = delete;
    TnrTimer& operator=(const TnrTimer&) = delete;

    bool GetEnabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    uint32_t GetInterval() const { return FInterval; }
    void SetInterval(uint32_t Value);
    const TNotifyEvent& GetOnTimer() const { return FOnTimer; }
    void SetOnTimer(const TNotifyEvent& Value);

    // Whether the system timer is currently set (for the owner's diagnostics).
    bool IsArmed() const;

    // Called for each tick: the handler when enabled and assigned.
    virtual void DoTimer();

protected:
    uint32_t FInterval = 1000;
    // The "hidden window": a toolkit timer that delivers the ticks on this thread.
    TTimer* FWindowHandle = nullptr;
    TNotifyEvent FOnTimer;
    bool FEnabled = true;

private:
    friend class TnrCustomDataProcessor;  // stores an interval without re-arming
    void RearmTimer();
    void WndProcTick();  // the tick guard: runs DoTimer, discards its errors
};

// ---------------------------------------------------------------------------
// TnrDevice: one entry of a component's device list (also a scan record of
// the port enumeration). Numbers start 0, strings empty, GUID zero.

class TnrDevice : public TObject {
public:
    TnrDevice() = default;

    int32_t GetIndex() const { return fIndex; }
    TnrBaseIO* GetParent() const { return fParent; }

protected:
    friend class TnrBaseIO;
    int32_t fIndex = 0;
    TnrBaseIO* fParent = nullptr;

public:
    uintptr_t Handle = 0;
    uintptr_t DevInst = 0;
    int32_t Data = 0;
    int32_t DataEx = 0;
    UnicodeString NameFriendly;
    UnicodeString NamePDO;
    UnicodeString NameDeviceDos;
    UnicodeString NameSymbolic;
    UnicodeString RegKey;
    UnicodeString Description;
    UnicodeString Service;
    UnicodeString Driver;
    UnicodeString InstanceId;
    UnicodeString BusRelations;
    UnicodeString PortName;
    UnicodeString Manufacturer;
    UnicodeString SerialNumber;
    GUID GuidClass{};
};

// ---------------------------------------------------------------------------
// TnrThreadIO: the base component's generic worker thread. Created
// suspended, frees itself when its body returns, runs the component's
// ThreadExecute inside COM initialisation.

class TnrThreadIO : public TThread {
public:
    // Created suspended with the given priority; ThreadStart starts it.
    // Synchronize (the runtime's) runs a method of the component on the main
    // thread and waits for it.
    TnrThreadIO(TnrBaseIO* AComm, TThreadPriority APriority);

protected:
    void Execute() override;

private:
    TnrBaseIO* fnrComm;
};

// ---------------------------------------------------------------------------
// TnrBaseIO: the abstract base of the device components.

class TnrBaseIO : public TComponent {
public:
    explicit TnrBaseIO(TComponent* AOwner);
    ~TnrBaseIO() override;

    // --- virtual operations, in slot order ---------------------------------
    virtual bool IsDeviceOpen();
    virtual HANDLE DeviceOpen();
    virtual void DeviceClose(HANDLE Handle);
    virtual bool HasDataConsumer();
    virtual void DoOpen();
    virtual void DoClose();
    virtual void ThreadStart();
    virtual void ThreadStop();
    virtual void ThreadExecute(TnrThreadIO* Thread);
    virtual void ReportFatalError(uint32_t ErrorCode, uint32_t Detail, const UnicodeString& ErrorMsg, bool ShowOnly);
    virtual void DoNotify(int Code);
    virtual void DoDataReceived(uint8_t* Buffer, uint32_t Len);
    virtual bool DoSendComplete();
    virtual void SetDeviceIndex(int32_t Value);
    virtual int32_t GetDeviceIndex() = 0;
    virtual int32_t AddDevice(TnrDevice* Device);
    virtual int32_t InsertDevice(TnrDevice* Device);
    virtual void DeviceListLoad() = 0;
    virtual void ClearDeviceList();
    // Buffer must have room for one byte after the data (a NUL is put there).
    virtual void TerminalOutput(uint8_t* Buffer, uint32_t Len);
    virtual void Update();
    virtual void NotifyAdd(const TnrNotifyEvent& NotifyEvent);
    virtual void NotifyDelete(const TnrNotifyEvent& NotifyEvent);
    virtual void SendChar(char16_t Ch) = 0;
    virtual void SendString(const AnsiString& S) = 0;
    virtual void SendData(const uint8_t* Buff, uint32_t N) = 0;
    virtual void ClearDeviceInput() = 0;
    virtual void ClearDeviceOutput() = 0;
    virtual void ClearDeviceBuffers() = 0;
    virtual void GetDeviceList(TStringList* L);
    // Msg: a window message (message, wParam, lParam are read).
    virtual bool WMDeviceChange(const MSG& Msg);

    // --- public operations ---------------------------------------------------
    TnrDevice* GetDevice(int32_t Index) const;  // property Device[Index]
    int32_t CountDevices() const;               // property DeviceCount
    int32_t GetDeviceCount() const { return CountDevices(); }
    int32_t IndexOfDevice(const TnrDevice* aDevice) const;
    int32_t IndexOfDeviceData(int32_t Value) const;
    void LogMessage(TDetailLevel Level, const UnicodeString& S);
    void LogMessageFmt(TDetailLevel Level, const UnicodeString& Fmt, std::initializer_list<TFormatArg> Args);

    // --- properties ------------------------------------------------------------
    bool GetActive();
    void SetActive(bool Value);
    HANDLE GetHandle() const { return hPort; }
    TnrCustomDataProcessor* GetDataProcessor() const { return fDataProcessor; }
    void SetDataProcessor(TnrCustomDataProcessor* Value);
    TnrCustomLogFile* GetLog() const { return fLog; }
    void SetLog(TnrCustomLogFile* Value);
    const TOnFatalErrorEvent& GetOnFatalError() const { return fOnFatalError; }
    void SetOnFatalError(const TOnFatalErrorEvent& Value) { fOnFatalError = Value; }
    TCustomEdit* GetTerminal() const { return fTerminal; }
    void SetTerminal(TCustomEdit* Value);
    TTerminalUsage GetTerminalUsage() const { return fTerminalUsage; }
    void SetTerminalUsage(TTerminalUsage Value);
    bool GetTerminalEcho() const { return fTerminalEcho; }
    void SetTerminalEcho(bool Value) { fTerminalEcho = Value; }
    const TOnReceived& GetOnAfterReceive() const { return fOnReceived; }
    void SetOnAfterReceive(const TOnReceived& Value) { fOnReceived = Value; }
    const TNotifyEvent& GetOnClose() const { return fOnClose; }
    void SetOnClose(const TNotifyEvent& Value) { fOnClose = Value; }
    bool GetUseMainThread() const { return fUseMainThread; }
    void SetUseMainThread(bool Value) { fUseMainThread = Value; }
    // The open event; no property publishes it, descendants and tests set it.
    void SetOnOpen(const TNotifyEvent& Value) { fOnOpen = Value; }

protected:
    void LoadingFinished() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

    // Runs on the main thread for the worker thread's hop (UseMainThread).
    void SyncDataReceived();
    // The edit's character hook (installed as its CharProc, the terminal's
    // "window procedure" for typed characters).
    void TerminalWndProc(char16_t Ch);

    // --- fields, in declaration order ------------------------------------------
    TnrNotifyList* nrNotifyList = nullptr;
    TnrCustomLogFile* fLog = nullptr;
    TnrCustomDataProcessor* fDataProcessor = nullptr;
    TOnFatalErrorEvent fOnFatalError;
    TStringList* slDevices = nullptr;
    uint8_t* threadData = nullptr;
    uint32_t threadDataSize = 0;
    // Set while TerminalUsage shows received bytes (tuReceive, tuBoth): the
    // edit that TerminalOutput writes to; none otherwise.
    TCustomEdit* hTerminal = nullptr;
    TTerminalUsage fTerminalUsage = tuNone;
    TCustomEdit* fTerminal = nullptr;
    bool fTerminalEcho = false;
    TCustomEdit::TCharProc fOldTerminalWndProc;
    bool fTerminalLocked = false;
    TNotifyEvent fOnClose;
    TNotifyEvent fOnOpen;
    TnrThreadIO* fThreadIO = nullptr;
    TOnReceived fOnReceived;
    bool fUseMainThread = false;
    TThreadPriority fPriority = tpNormal;
    bool fActive = false;
    // Read by the event threads while the component opens or closes the port.
    std::atomic<HANDLE> hPort{INVALID_HANDLE_VALUE};
    UnicodeString sLogPrefix;
    bool flClearDeviceListWithFree = true;
    OVERLAPPED fOvlRead{};
    OVERLAPPED fOvlWrite{};
    OVERLAPPED fOvlAsync{};
    bool isThreaded = false;
    bool IsThreadIOTerminated = true;

private:
    friend class TnrThreadIO;
    const UnicodeString& LogPrefix();
    UnicodeString fConstructedPrefix;  // sLogPrefix as the constructor set it
};

// ---------------------------------------------------------------------------
// TnrCustomDataProcessor: sits between a component and the application; sees
// every received block first and can send through the component.

class TnrCustomDataProcessor : public TComponent {
    // The component delivers its removal notice early, while it is still whole.
    friend class TnrBaseIO;

public:
    explicit TnrCustomDataProcessor(TComponent* AOwner);
    ~TnrCustomDataProcessor() override;

    // --- virtual operations, in slot order ---------------------------------
    virtual void DoDeviceNotify(TObject* Sender, int Code);
    virtual void DoMediumClosed();
    virtual void DoMediumOpened();
    virtual void LinkProcessor(TnrCustomDataProcessor* Value);
    virtual void AttachDevice(TnrBaseIO* Value);
    virtual void ApplyActive(bool Value);
    virtual void SendBuffer(uint8_t* Buffer, uint32_t Len);
    virtual void SendText(const AnsiString& S);
    virtual void DoAsyncTimer(TObject* Sender);
    virtual void StartAsyncTimer(uint32_t Interval);
    virtual void DoFatalErrors(uint32_t Code, uint32_t Detail, const UnicodeString& Msg);
    virtual void DoProcessing(uint8_t* Data, uint32_t Len, TIgnoreTypes& R);
    virtual void DataReceive(uint8_t* ptrBuffer, uint32_t Len);
    virtual void DoAfterSendComplete(bool& flIgnore);

    // --- properties and links --------------------------------------------------
    bool GetActive() const { return fActive; }
    void SetActive(bool Value) { ApplyActive(Value); }
    const TOnFatalErrorEvent& GetOnFatalError() const { return fOnFatalError; }
    void SetOnFatalError(const TOnFatalErrorEvent& Value) { fOnFatalError = Value; }
    TnrBaseIO* GetDevice() const { return fDevice; }
    TnrCustomDataProcessor* GetDataProcessor() const { return fDataProcessor; }
    TnrCustomLogFile* GetLog() const { return fLog; }
    void SetLog(TnrCustomLogFile* Value);

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;
    // The processor's log lines (sLogPrefix in front; skipped without a sink).
    void LogLine(TDetailLevel Level, const UnicodeString& S);
    void LogLineFmt(TDetailLevel Level, const UnicodeString& Fmt, std::initializer_list<TFormatArg> Args);

    TnrBaseIO* fDevice = nullptr;
    TnrCustomDataProcessor* fDataProcessor = nullptr;
    bool fActive = false;
    TOnFatalErrorEvent fOnFatalError;
    TnrCustomLogFile* fLog = nullptr;
    TDataSendEvent fOnDataSend;
    TnrTimer* fTimerAsync = nullptr;
    UnicodeString sLogPrefix;
};

// ---------------------------------------------------------------------------
// TnrCustomLogFile: the log sink interface. Orders 2..8 are abstract: on the
// base class they raise EAbstractError. A sink may be called from several
// threads and must protect itself.

class TnrCustomLogFile : public TComponent {
public:
    explicit TnrCustomLogFile(TComponent* AOwner);
    ~TnrCustomLogFile() override;

    virtual void RaiseFatalError(uint32_t Code, uint32_t Detail, const UnicodeString& Msg);
    virtual void Save();
    virtual void Clear();
    virtual void Add(const UnicodeString& s);
    virtual void AddSysInfo();
    virtual void AddLog(TDetailLevel l, const UnicodeString& s);
    virtual void AddFmt(const UnicodeString& Fmt, const std::vector<TFormatArg>& Args);
    virtual void AddLogFmt(TDetailLevel l, const UnicodeString& Fmt, const std::vector<TFormatArg>& Args);

    const TOnFatalErrorEvent& GetOnFatalError() const { return fOnFatalError; }
    void SetOnFatalError(const TOnFatalErrorEvent& Value) { fOnFatalError = Value; }

protected:
    TOnFatalErrorEvent fOnFatalError;
};
