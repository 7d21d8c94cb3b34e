// Object model of the runtime: TObject, TStringList, TComponent, TThread.
#pragma once

#include "toolkit/sysutils.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject();
    // The class name without namespaces ("TnrComm").
    virtual UnicodeString ClassName() const;
};

// Events are bound callbacks that may be empty; call sites test them first.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// Binds an object's method to an event: OnClick = MethodOf(this, &TForm1::bSendClick).
template <class C, class R, class... A>
std::function<R(A...)> MethodOf(C* Object, R (C::*Method)(A...))
{
    return [Object, Method](A... Args) -> R { return (Object->*Method)(std::forward<A>(Args)...); };
}

// ---------------------------------------------------------------------------
// TStringList

enum class TDuplicates { dupIgnore, dupAccept, dupError };
using enum TDuplicates;

// A list of strings, each with an object slot (which may also hold an integer).
// Comparisons are case-insensitive unless CaseSensitive is set. A bad index
// raises EStringListError "Listenindex überschreitet das Maximum (%d)".
class TStringList : public TObject {
public:
    TStringList() = default;
    explicit TStringList(bool OwnsObjects) : fOwnsObjects(OwnsObjects) {}
    ~TStringList() override;

    int Count() const { return static_cast<int>(fItems.size()); }
    const UnicodeString& Strings(int Index) const;
    const UnicodeString& operator[](int Index) const { return Strings(Index); }
    void SetStrings(int Index, const UnicodeString& S);
    TObject* Objects(int Index) const;
    void SetObjects(int Index, TObject* Object);
    // The object slot read and written as an integer.
    std::intptr_t Integers(int Index) const;
    void SetIntegers(int Index, std::intptr_t Value);

    int Add(const UnicodeString& S);
    int AddObject(const UnicodeString& S, TObject* Object);
    int AddInteger(const UnicodeString& S, std::intptr_t Value);
    void Insert(int Index, const UnicodeString& S);
    void InsertObject(int Index, const UnicodeString& S, TObject* Object);
    void Delete(int Index);
    void Clear();
    void Move(int CurIndex, int NewIndex);

    int IndexOf(const UnicodeString& S) const;
    int IndexOfObject(const TObject* Object) const;
    // Position of the first entry whose name (the text before the first "=")
    // equals Name; entries without "=" have no name.
    int IndexOfName(const UnicodeString& Name) const;
    UnicodeString Names(int Index) const;
    UnicodeString ValueFromIndex(int Index) const;
    UnicodeString Values(const UnicodeString& Name) const;
    // Sets the value of the entry Name (appends "Name=Value" when absent); an
    // empty Value deletes the entry, as the runtime does.
    void SetValues(const UnicodeString& Name, const UnicodeString& Value);

    // Sorted lists keep their order on Add and look up by binary search.
    bool Sorted() const { return fSorted; }
    void SetSorted(bool Value);
    void SetDuplicates(TDuplicates Value) { fDuplicates = Value; }
    void SetCaseSensitive(bool Value);
    bool OwnsObjects() const { return fOwnsObjects; }
    void Sort();
    // Binary search in a sorted list: true and the position when found, else
    // false and the insertion position.
    bool Find(const UnicodeString& S, int& Index) const;
    // Comparison used by IndexOf, Find and Sort.
    int CompareStrings(const UnicodeString& A, const UnicodeString& B) const;

    // Lines joined with CR LF (each line ends with one); setting splits at
    // CR LF, LF or CR.
    UnicodeString Text() const;
    void SetText(const UnicodeString& S);
    UnicodeString CommaText() const;
    void SetCommaText(const UnicodeString& S);

    // Files: read with BOM detection (UTF-8, UTF-16LE), otherwise as
    // Windows-1252; written as Windows-1252 with CR LF. Failures raise
    // EFOpenError "Datei %s kann nicht geöffnet werden. %s" / EFCreateError
    // "Datei \"%s\" kann nicht erstellt werden. %s" with the system's reason.
    // Saving replaces the file as a whole (see WriteFileBytes).
    void LoadFromFile(const UnicodeString& FileName);
    void SaveToFile(const UnicodeString& FileName) const;

    TNotifyEvent OnChange;

private:
    struct TItem {
        UnicodeString Str;
        TObject* Obj = nullptr;
    };
    void CheckIndex(int Index) const;
    void InsertItem(int Index, const UnicodeString& S, TObject* Object);
    void Changed();
    std::vector<TItem> fItems;
    bool fSorted = false;
    bool fCaseSensitive = false;
    bool fOwnsObjects = false;
    TDuplicates fDuplicates = dupIgnore;
};

// Reads / writes a whole file as bytes; raise EFOpenError / EFCreateError.
// Writing replaces the file through a temporary file beside it and a rename,
// so a write that fails part-way leaves the old content; a file that could
// not be opened for writing in place (read-only, a folder) is refused.
std::string ReadFileBytes(const UnicodeString& FileName);
void WriteFileBytes(const UnicodeString& FileName, std::string_view Bytes);
// The file system's reason text for the last failed open (German, as the
// system gives it, without the final full stop), from its errno value.
UnicodeString FileErrorReason(int ErrnoValue);
// Path helpers on UnicodeString.
UnicodeString ExtractFilePath(const UnicodeString& FileName);  // up to and including the last separator
UnicodeString ExtractFileName(const UnicodeString& FileName);
bool FileExists(const UnicodeString& FileName);

// ---------------------------------------------------------------------------
// TComponent

enum class TOperation { opInsert, opRemove };
using enum TOperation;

enum class TComponentStateFlag { csLoading, csReading, csWriting, csDestroying, csDesigning, csFreeNotification };
using enum TComponentStateFlag;
using TComponentState = TSet<TComponentStateFlag>;

// Owner-managed lifetime and free notification. Components live on the main
// thread; nothing here is locked.
//
// * The owner destroys the components it owns, last created first; the
//   removal of one that another component linked to by FreeNotification
//   reaches its siblings (through the owner) before it goes.
// * FreeNotification(A) links this component and A both ways: when either is
//   destroyed, the other gets Notification(destroyed, opRemove). Components
//   with the same owner need no link: the owner passes every opInsert and
//   opRemove of its components on to all of them.
// * Streaming: BeginLoading sets csLoading (on owned components too);
//   EndLoading calls LoadingFinished on the owned components in creation order
//   and then on this one. LoadingFinished ends the loading state; overrides
//   call the inherited one first.
//
// A class that inherits TComponent beside a Qt class should put TComponent
// last among its bases, so that its owned components go before its Qt children.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;

    TComponent* Owner() const { return fOwner; }
    const UnicodeString& Name() const { return fName; }
    void SetName(const UnicodeString& Value);
    std::intptr_t Tag = 0;

    int ComponentCount() const { return static_cast<int>(fComponents.size()); }
    int ComponentIndex() const;
    // Owned component by name (case-insensitive), or null.
    TComponent* FindComponent(const UnicodeString& AName) const;
    void InsertComponent(TComponent* AComponent);
    void RemoveComponent(TComponent* AComponent);
    // Destroys every owned component, last created first.
    void DestroyComponents();

    TComponentState ComponentState() const { return fComponentState; }
    bool IsLoading() const { return fComponentState.Contains(csLoading); }
    bool IsDesigning() const { return fComponentState.Contains(csDesigning); }
    bool IsDestroying() const { return fComponentState.Contains(csDestroying); }
    // Design state (a designer or a test switches it on; owned components follow).
    void SetDesigning(bool Value, bool SetChildren = true);

    void BeginLoading();
    void EndLoading();

    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);
    // Components linked by FreeNotification (for tests and diagnostics).
    int FreeNotifyCount() const { return static_cast<int>(fFreeNotifies.size()); }

protected:
    // Told of components inserted into / removed from this component's
    // owner and of the destruction of linked components. The base forwards
    // to the owned components; overrides call the inherited one.
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    // Called once all properties have been set after BeginLoading.
    virtual void LoadingFinished();
    // Marks the component as being destroyed (csDestroying) and its owned ones.
    virtual void Destroying();

private:
    void Insert(TComponent* AComponent);
    void Remove(TComponent* AComponent);
    void RemoveNotification(TComponent* AComponent);
    TComponent* fOwner = nullptr;
    UnicodeString fName;
    std::vector<TComponent*> fComponents;
    std::vector<TComponent*> fFreeNotifies;
    TComponentState fComponentState;
};

// ---------------------------------------------------------------------------
// Main thread

// The main thread is the thread that initialised the toolkit (static
// initialisation) unless a dispatcher sets it explicitly.
bool IsMainThread();
void SetMainThreadID(std::thread::id Id);

using TThreadMethod = std::function<void()>;

// Runs the pending Synchronize / Queue requests on the calling (main) thread;
// returns true when at least one ran. Dispatchers call it; so may tests.
bool CheckSynchronize();
// Whether requests are pending (for dispatchers).
bool SynchronizeRequestsPending();
// The dispatcher's wake-up: called from any thread when a request is queued
// or a thread ended, so that the main thread gets to CheckSynchronize soon.
// Returns the previous one.
std::function<void()> SetWakeMainThread(std::function<void()> Wake);
// Calls the installed wake-up (any thread).
void WakeMainThread();

// Signalled when a thread's Execute (and OnTerminate) has returned; outlives
// the TThread, so it can be waited on for a free-on-terminate thread.
class TThreadDone {
public:
    bool Done() const;
    // Waits until the thread is done (a negative Timeout waits without
    // limit); on the main thread it runs Synchronize requests meanwhile.
    bool Wait(std::chrono::milliseconds Timeout = std::chrono::milliseconds(-1)) const;

private:
    friend class TThread;
    bool fDone = false;  // guarded by the toolkit's synchronize lock
};

// ---------------------------------------------------------------------------
// TThread

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
using enum TThreadPriority;

// A thread object. The thread starts with Start() (C++ cannot start it from the
// base constructor: Execute is not ready there).
//
// Synchronize(Method) runs Method on the main thread and waits for it. Called
// on the main thread it runs Method directly. The request waits until the main
// thread runs CheckSynchronize (the installed Application does so in its
// event loop, ProcessMessages and WaitUntil; WaitFor and TThreadDone::Wait on
// the main thread do too); with no Application installed nobody else will. An exception raised by Method is
// passed back and re-raised in the calling thread.
//
// Cancellation: Terminate() cancels a request of this thread that the main
// thread has not started yet: Synchronize then returns at once WITHOUT running
// Method (no exception); the request never runs afterwards. A request that is
// already running is waited for. Synchronize on a thread that has been told to
// terminate returns at once without running. Callers test Terminated() after
// Synchronize when they must know. This is what lets the main thread join a
// thread that waits in Synchronize.
//
// FreeOnTerminate: the object deletes itself on its thread after Execute (and
// OnTerminate) returned; do not touch it, nor WaitFor it (EThread), afterwards;
// wait on DoneSignal() instead.
// Destroying a running thread object (not free-on-terminate) terminates it
// and waits for it. C++ destroys the derived part first, so a derived class
// whose object may be destroyed while it runs calls TerminateAndWait() in its
// own destructor (its Execute and TerminatedSet are still there then).
class TThread : public TObject {
public:
    TThread();
    ~TThread() override;

    void Start();
    // Asks the thread to end: sets Terminated, cancels its pending
    // Synchronize request and calls TerminatedSet.
    void Terminate();
    bool Terminated() const { return fTerminated.load(); }
    // Waits until Execute has returned and returns ReturnValue. On the main
    // thread it keeps running Synchronize requests meanwhile, so a thread that
    // synchronizes before it ends does not deadlock the wait.
    int WaitFor();
    // WaitFor with a time-out; false when the thread still runs.
    bool WaitFor(std::chrono::milliseconds Timeout);
    // Terminate, then wait for the end when the thread runs (and is not the
    // calling thread). For destructors of derived classes.
    void TerminateAndWait();
    // The end signal (valid after the thread object is gone).
    std::shared_ptr<TThreadDone> DoneSignal() const { return fDone; }

    bool FreeOnTerminate() const { return fFreeOnTerminate.load(); }
    void SetFreeOnTerminate(bool Value) { fFreeOnTerminate.store(Value); }
    bool Finished() const { return fFinished.load(); }
    // Id of the running thread (0 before Start); same values as GetCurrentThreadId.
    std::uint32_t ThreadID() const { return fThreadID.load(); }
    TThreadPriority Priority() const { return fPriority; }
    // Recorded only: std::thread has no portable priority.
    void SetPriority(TThreadPriority Value) { fPriority = Value; }
    // The exception that ended Execute, if any.
    std::exception_ptr FatalException() const;

    // Runs on the main thread after Execute (through Synchronize, so it is
    // skipped when the thread was told to terminate).
    TNotifyEvent OnTerminate;

    void Synchronize(const TThreadMethod& Method);
    // Synchronize for code that has no TThread at hand (AThread may be null:
    // the request is then not cancellable).
    static void Synchronize(TThread* AThread, const TThreadMethod& Method);
    // Queues Method for the main thread without waiting (runs directly on the
    // main thread). Exceptions go to Application's HandleException.
    static void Queue(const TThreadMethod& Method);
    // The calling thread's TThread, or null for threads not made by TThread.
    static TThread* CurrentThread();
    // The id of the calling thread as ThreadID gives it.
    static std::uint32_t CurrentThreadID();

protected:
    virtual void Execute() = 0;
    // Called by Terminate (on the terminating thread) after the flag is set;
    // override to wake the thread from a wait.
    virtual void TerminatedSet() {}
    void SetReturnValue(int Value) { fReturnValue.store(Value); }

public:
    struct TSyncRequest;  // internal: one queued request

private:
    void Run();
    std::thread fThread;
    std::atomic<bool> fTerminated{false};
    std::atomic<bool> fFreeOnTerminate{false};
    std::atomic<bool> fStarted{false};
    std::atomic<bool> fFinished{false};
    std::atomic<std::uint32_t> fThreadID{0};
    std::atomic<int> fReturnValue{0};
    TThreadPriority fPriority = tpNormal;
    std::exception_ptr fFatalException;  // written by the thread before fDone
    std::shared_ptr<TThreadDone> fDone;
    std::shared_ptr<TSyncRequest> fPendingSync;  // guarded by the synchronize lock
};
