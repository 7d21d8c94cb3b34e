// nrcomm: the serial port components TnrCustomComm, TnrCustomSerialComm and
// TnrComm, and their two event threads TCommThread and TMsgThread.
// Property scheme as in comm/nrclasses/nrclasses.h (GetP/SetP, field fP).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "comm/nrclasses/nrclasses.h"

class TnrCustomComm;
class TControl;
class TMsgThread;
// Shared by a component and its event threads (nrcomm_threads.cpp).
struct TCommThreadsState;

// The two registered thread messages ("nrCommMsgComEvent",
// "nrCommMsgQuitComEvent"), registered once per process on first use.
UINT CommMsgComEvent();
UINT CommMsgQuitComEvent();

// ---------------------------------------------------------------------------
// TCommThread: waits for port events with an overlapped WaitCommEvent and
// posts each event mask to the message thread.

class TCommThread : public TThread {
public:
    explicit TCommThread(TnrCustomComm* AOwner);
    ~TCommThread() override;
    // Terminate request, then releases a pending wait.
    void Terminate();

protected:
    void Execute() override;
    void TerminatedSet() override;

public:
    TnrCustomComm* Com;
    HANDLE hDevice;
    OVERLAPPED ovl{};

private:
    friend class TnrCustomComm;
    // Posts Msg with Mask to the message thread, retrying until its queue exists.
    void PostEvent(UINT Msg, DWORD Mask);
    // The device still answers a query (a removed one does not).
    bool PortAnswers();
    HANDLE fStopEvent = nullptr;  // set by Terminate
    std::shared_ptr<TCommThreadsState> fState;
    TMsgThread* fMsgThread;
};

// ---------------------------------------------------------------------------
// TMsgThread: hands each comm-event message to the component's handler, on
// the main thread (Synchronize) when UseMainThread is set.

class TMsgThread : public TThread {
public:
    explicit TMsgThread(TnrCustomComm* AOwner);
    ~TMsgThread() override;
    // Terminate request, then posts the quit message to itself.
    void Terminate();

protected:
    void Execute() override;
    void TerminatedSet() override;
    // Runs on the main thread: HandleCommEvent(glMsg) unless terminated.
    void SyncCommEvent();
    // Hands glMsg to the component: the close of a failed port, or a comm
    // event (HandleCommEvent, noting whether it read every queued byte).
    void RunHandler();

public:
    TnrCustomComm* Com;
    MSG glMsg{};

private:
    friend class TnrCustomComm;
    friend class TCommThread;
    // Waits until the thread has its message queue.
    bool WaitQueueReady(DWORD Ms);
    std::shared_ptr<TCommThreadsState> fState;
    HANDLE fQueueReady = nullptr;
    std::atomic<DWORD> fQueueThreadId{0};   // set once the queue exists
    std::atomic<bool> fSyncRunning{false};  // SyncCommEvent runs on the main thread
    // A receive event whose bytes an earlier handler already read would find
    // an empty queue: it is taken without a round trip to the handler. Counted
    // are the comm-event messages posted (by the comm-event thread) and taken
    // (here); ReadThrough is the number posted before the last handler that
    // read the whole queue began.
    std::atomic<uint64_t> fEventsPosted{0};
    uint64_t fEventsTaken = 0;
    std::atomic<uint64_t> fEventsReadThrough{0};
};

// ---------------------------------------------------------------------------
// TnrCustomComm: the generic serial port component.
//
// Where the events run: every handler (OnAfterReceive, OnAfterSend,
// OnTraceState, OnCommError, the data processor, the terminal edit) runs on
// the main thread when UseMainThread is set and an Application exists, and
// on the message thread otherwise. A port that fails under the comm-event
// thread (a wait error such as a removed device) is closed on that same
// thread, so its OnClose and the notification with code 1 arrive where
// received bytes do; a close asked for by the program runs on the caller's
// thread.
//
// A close is bounded: a handler running on the message thread (UseMainThread
// false) that waits in a transfer (Read for bytes that do not come, a send on
// a stalled line) has it aborted (the send then goes to OnCommError), so the
// close returns within 500 ms plus what the handler does after its transfer
// failed.

class TnrCustomComm : public TnrBaseIO {
public:
    explicit TnrCustomComm(TComponent* AOwner);
    ~TnrCustomComm() override;

    // --- virtual operations added here, in slot order ------------------------
    virtual UnicodeString QueryComName();  // property ComName
    virtual void SetupDevice();
    virtual void WriteEventChar(char16_t Value);
    virtual char16_t ReadEventChar();
    virtual void DoCommError(uint32_t CommCode, uint32_t SysError, TComStateFlags State);

    // --- overrides of the base operations --------------------------------------
    void DoOpen() override;
    void DoClose() override;
    void ThreadStart() override;
    void ThreadStop() override;
    void SendChar(char16_t Ch) override;
    void SendString(const AnsiString& S) override;
    void SendData(const uint8_t* Buff, uint32_t N) override;
    void ClearDeviceInput() override;
    void ClearDeviceOutput() override;
    void ClearDeviceBuffers() override;

    // --- configuration -----------------------------------------------------------
    void ConfigDialog();
    // Builds the DCB flags from StreamProtocol / RS485Mode and applies the DCB
    // to the open port.
    void ApplyCommState();
    // Derives StreamProtocol and RS485Mode from the DCB (read from the open port).
    void ReadCommConfig();
    // Closes the open port (Purge: discard unsent output first). A handler
    // called on the way (OnClose, a notification) may destroy the component.
    void ShutDown(bool Purge);
    // Sets the published Boolean "Checked" of a monitor control, if it has one.
    void SetMonitorChecked(TControl* Control, bool Value);

    // --- comm events -------------------------------------------------------------
    void HandleCommEvent(const MSG& Msg);

    // --- transmit, read and line control -----------------------------------------
    void Read(uint8_t* Buffer, uint32_t Len);
    void ReadAll(uint8_t* Buffer);
    int32_t ReadMax(uint8_t* Buffer, int32_t MaxLen);
    AnsiString ReadString();
    void SendAheadChar(char16_t Ch);
    void SetStateDTR(bool State);
    void SetStateRTS(bool State);
    void SetStateX(bool State);
    void SetStateBreak(bool State);
    void FlushOutputBuffer();
    bool WaitForBytes(uint32_t Count, uint32_t Ms);
    bool WaitForSignal(TModemSignal Signal, uint32_t Ms);
    void DoTraceState(TObject* Com, TTraceStates Event);

    // --- properties ----------------------------------------------------------------
    UnicodeString GetComName() { return QueryComName(); }
    uint32_t GetBaudRate() const { return CommCfg.dcb.BaudRate; }
    void SetBaudRate(uint32_t Value);
    TParity GetParity() const { return static_cast<TParity>(CommCfg.dcb.Parity); }
    void SetParity(TParity Value);
    TStopBits GetStopBits() const { return static_cast<TStopBits>(CommCfg.dcb.StopBits); }
    void SetStopBits(TStopBits Value);
    uint8_t GetByteSize() const { return CommCfg.dcb.ByteSize; }
    void SetByteSize(uint8_t Value);
    char16_t GetEventChar() { return ReadEventChar(); }
    void SetEventChar(char16_t Value) { WriteEventChar(Value); }
    TStreamProtocol GetStreamProtocol() const { return fProtocol; }
    void SetStreamProtocol(TStreamProtocol Value);
    bool GetRS485Mode() const { return fRS485Mode; }
    void SetRS485Mode(bool Value);
    uint16_t GetBufferInSize() const { return fBufferInSize; }
    void SetBufferInSize(uint16_t Value);
    uint16_t GetBufferOutSize() const { return fBufferOutSize; }
    void SetBufferOutSize(uint16_t Value);
    TTraceStates GetTraceStates() const { return fTraceStates; }
    void SetTraceStates(TTraceStates Value);
    TModemSignals GetModemSignals();
    uint32_t GetReadyForRead();
    uint32_t GetNotYetSend();
    COMMTIMEOUTS* GetTimeOuts();
    void SetTimeOuts(const COMMTIMEOUTS* Value);
    uint32_t GetTimeoutRead();
    void SetTimeoutRead(uint32_t Value);
    uint32_t GetTimeoutWrite();
    void SetTimeoutWrite(uint32_t Value);
    COMMPROP* GetCommProp();
    uint32_t GetTotalSent() const { return fTotalSent; }
    uint32_t GetTotalReceived() const { return fTotalReceived; }
    const TOnSent& GetOnAfterSend() const { return fOnSent; }
    void SetOnAfterSend(const TOnSent& Value) { fOnSent = Value; }
    const TOnTraceEvent& GetOnTraceState() const { return fOnTraceState; }
    void SetOnTraceState(const TOnTraceEvent& Value) { fOnTraceState = Value; }
    const TOnCommErrorEvent& GetOnCommError() const { return fOnCommError; }
    void SetOnCommError(const TOnCommErrorEvent& Value) { fOnCommError = Value; }
    TControl* GetMonitorCTS() const { return fMonitorCTS; }
    void SetMonitorCTS(TControl* Value);
    TControl* GetMonitorDSR() const { return fMonitorDSR; }
    void SetMonitorDSR(TControl* Value);
    TControl* GetMonitorRLSD() const { return fMonitorRLSD; }
    void SetMonitorRLSD(TControl* Value);
    TControl* GetMonitorRing() const { return fMonitorRing; }
    void SetMonitorRing(TControl* Value);
    // Text of the last failed open.
    const UnicodeString& GetLastErrorString() const { return LastErrorString; }
    // The line settings as held for the next open (or applied to the open port).
    const DCB& GetDCB() const { return CommCfg.dcb; }

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;
    // First step of every destructor down to this class: the event threads end
    // (no handler runs any more) before the object's dynamic type changes.
    void StopThreadsForDestroy();
    // A handler may destroy the component: taken before the call, Gone() tells
    // after it whether the component is still there (a destruction already
    // under way when the token was taken does not count).
    class TLifeToken {
    public:
        explicit TLifeToken(const TnrCustomComm& Com) : fState(Com.fThreadsState), fWasDestroying(DestroyedBy(fState))
        {
        }
        bool Gone() const { return !fWasDestroying && DestroyedBy(fState); }

    private:
        std::shared_ptr<TCommThreadsState> fState;
        bool fWasDestroying;
    };
    static bool DestroyedBy(const std::shared_ptr<TCommThreadsState>& State);
    // Emulated RS485 direction control: RS485 requested, driver cannot toggle RTS.
    bool IsRS485Emulated() const { return fRS485Mode && fIsNotSupportRS485; }

    // --- fields, in declaration order --------------------------------------------
    TMsgThread* MsgThread = nullptr;
    TCommThread* CommThread = nullptr;
    COMSTAT* Stat = nullptr;
    COMMPROP ComProp{};
    COMMTIMEOUTS* fCommTimeouts = nullptr;
    UnicodeString LastErrorString;
    uint32_t fTotalSent = 0;
    uint32_t fTotalReceived = 0;
    TOnSent fOnSent;
    // Read by the handler's thread while the program may set it.
    std::atomic<TTraceStates> fTraceStates;
    uint16_t fBufferOutSize = 0;
    uint16_t fBufferInSize = 0;
    uint8_t* glBuffer = nullptr;
    uint32_t glBufferSize = 0;  // bytes allocated for glBuffer
    bool fRS485Mode = false;
    TControl* fMonitorRLSD = nullptr;
    TControl* fMonitorRing = nullptr;
    TControl* fMonitorCTS = nullptr;
    TControl* fMonitorDSR = nullptr;
    bool fIsNotSupportRS485 = true;
    TStreamProtocol fProtocol = spNone;
    TOnTraceEvent fOnTraceState;
    TOnCommErrorEvent fOnCommError;
    COMMCONFIG CommCfg{};

private:
    friend class TCommThread;
    friend class TMsgThread;
    // --- event threads (nrcomm_threads.cpp) ---
    static std::shared_ptr<TCommThreadsState> NewThreadsState();
    // Reads a queue of Queued bytes in pieces that fit the receive buffer and
    // dispatches each; false when a handler destroyed the component.
    bool ReceiveQueued(DWORD Queued, const std::shared_ptr<TCommThreadsState>& State);
    // Set by HandleCommEvent when it took every byte queued at its start.
    bool fQueueReadThrough = false;
    // An error raised inside the comm-event handler: the error box, unless a
    // handler destroyed the component.
    void ReportHandlerError(const std::shared_ptr<TCommThreadsState>& State, const UnicodeString& Message);
    void ThreadsDestroying();
    // Waits for the message thread to end, aborting the transfers its handler
    // may be blocked in.
    void JoinMsgThread(TMsgThread* Msg);
    // The threads' test of the port: no virtual call, so it never races a
    // destructor that changes the object's dynamic type.
    bool ThreadSeesPortOpen() const { return hPort != INVALID_HANDLE_VALUE; }
    std::shared_ptr<TCommThreadsState> fThreadsState = NewThreadsState();
    void AllocReceiveBuffer();
    void FreeReceiveBuffer();
    void SetMonitor(TControl*& Field, TControl* Value);
};

// ---------------------------------------------------------------------------
// TnrCustomSerialComm: the serial port component bound to a COM port.

class TnrCustomSerialComm : public TnrCustomComm {
public:
    explicit TnrCustomSerialComm(TComponent* AOwner);
    ~TnrCustomSerialComm() override;

    // --- virtual operations added here, in slot order ------------------------
    virtual void SaveConfig(HKEY Root, const UnicodeString& Key, const UnicodeString& Name);
    virtual void LoadConfig(HKEY Root, const UnicodeString& Key, const UnicodeString& Name);
    virtual UnicodeString GetPNPDeviceString();
    virtual void InitDeviceConnect();

    // --- overrides ---------------------------------------------------------------
    UnicodeString QueryComName() override;
    HANDLE DeviceOpen() override;
    void SetDeviceIndex(int32_t Value) override;
    int32_t GetDeviceIndex() override;
    void DeviceListLoad() override;
    void Update() override;

    // Adopts a handle opened elsewhere (for overlapped I/O); reopens on it.
    void SetExtHandle(HANDLE aHandle);

    // --- properties ----------------------------------------------------------------
    uint16_t GetComPortNo() const { return fComPortNo; }
    void SetComPortNo(uint16_t Value);
    TComPort GetComPort() const;
    void SetComPort(TComPort Value);
    TnrEnumPorts GetEnumPorts() const { return fEnumPorts; }
    void SetEnumPorts(TnrEnumPorts Value) { fEnumPorts = Value; }

protected:
    uint16_t fComPortNo = 0;
    HANDLE fExtHandle = nullptr;
    TnrEnumPorts fEnumPorts = epQuickAll;
};

// ---------------------------------------------------------------------------
// TnrComm: publishes the properties; no behaviour of its own.

class TnrComm : public TnrCustomSerialComm {
public:
    explicit TnrComm(TComponent* AOwner);
    ~TnrComm() override;

    // The published properties in the order in which they are streamed
    // (Log and OnFatalError first: published by TnrCustomSerialComm).
    static const std::vector<UnicodeString>& PublishedProperties();
    // Streams one value-typed published property from its stored text (numbers,
    // Booleans "True"/"False", enumeration names, sets "[tsRxChar,tsCTS]").
    // False for an unknown name, a read-only or a reference/event property, or
    // a text that does not fit the property's type.
    bool ReadProperty(const UnicodeString& Name, const UnicodeString& Value);
    // The stored text of a value-typed published property ("" otherwise).
    UnicodeString WriteProperty(const UnicodeString& Name);
};
