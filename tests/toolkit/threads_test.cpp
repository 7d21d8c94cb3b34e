// TThread, Synchronize (with cancellation) and the headless dispatcher.
#include "toolkit/forms.h"
#include "tests/toolkit/lambda_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;

namespace {

TEST(Thread, SynchronizeRunsOnTheMainThreadAndWaits)
{
    THeadlessApplication App;
    std::vector<int> Order;  // touched only on the main thread
    std::atomic<bool> AfterSync{false};
    TLambdaThread T([&](TLambdaThread& Self) {
        Self.Synchronize([&] {
            EXPECT_TRUE(IsMainThread());
            Order.push_back(1);
        });
        // Synchronize returned only after the method ran (its end is ordered
        // before the return, so Order may be read here).
        AfterSync = Order.size() == 1;
        Self.Synchronize([&] { Order.push_back(2); });
        Self.SetReturnValue(7);
    });
    T.Start();
    EXPECT_NE(T.ThreadID(), 0u);
    EXPECT_NE(T.ThreadID(), TThread::CurrentThreadID());
    EXPECT_TRUE(App.WaitUntil([&] { return T.Finished(); }, 5s));
    EXPECT_TRUE(AfterSync);
    EXPECT_EQ(Order, (std::vector<int>{1, 2}));
    EXPECT_EQ(T.WaitFor(), 7);
}

TEST(Thread, SynchronizeFromSeveralThreadsRunsEveryRequestOnce)
{
    THeadlessApplication App;
    constexpr int Threads = 4, Requests = 200;
    int Counts[Threads] = {};  // main thread only
    std::vector<std::unique_ptr<TLambdaThread>> List;
    for (int I = 0; I < Threads; ++I) {
        List.push_back(std::make_unique<TLambdaThread>([&Counts, I](TLambdaThread& Self) {
            for (int K = 0; K < Requests; ++K) Self.Synchronize([&Counts, I] { ++Counts[I]; });
        }));
        List.back()->Start();
    }
    EXPECT_TRUE(App.WaitUntil(
        [&] {
            for (auto& T : List)
                if (!T->Finished()) return false;
            return true;
        },
        20s));
    for (int I = 0; I < Threads; ++I) EXPECT_EQ(Counts[I], Requests);
}

TEST(Thread, SynchronizeOnTheMainThreadRunsDirectly)
{
    THeadlessApplication App;
    int Ran = 0;
    TThread::Synchronize(nullptr, [&] { ++Ran; });
    EXPECT_EQ(Ran, 1);
    EXPECT_FALSE(SynchronizeRequestsPending());
}

TEST(Thread, ExceptionsOfASynchronizedMethodReachTheCallingThread)
{
    THeadlessApplication App;
    std::string Caught;
    TLambdaThread T([&](TLambdaThread& Self) {
        try {
            Self.Synchronize([] { throw EConvertError(u"'x' ist kein gültiger Integerwert"); });
        } catch (const EConvertError& E) {
            Caught = UnicodeToUtf8(E.Message());
        }
        Self.Synchronize([] { throw EInOutError(5); });  // ends Execute
    });
    T.Start();
    T.WaitFor();
    EXPECT_EQ(Caught, "'x' ist kein gültiger Integerwert");
    ASSERT_TRUE(T.FatalException());
    EXPECT_THROW(std::rethrow_exception(T.FatalException()), EInOutError);
    EXPECT_TRUE(App.MessageBoxCalls().empty());  // nothing shown on the main thread
}

TEST(Thread, TerminateCancelsAPendingSynchronizeWhichNeverRuns)
{
    THeadlessApplication App;
    std::atomic<bool> Ran{false}, Returned{false};
    TLambdaThread T([&](TLambdaThread& Self) {
        Self.Synchronize([&] { Ran = true; });
        Returned = true;
        // After the terminate request no new request is made either.
        Self.Synchronize([&] { Ran = true; });
    });
    T.Start();
    // Do not pump: the request stays pending until the terminate request.
    while (!SynchronizeRequestsPending()) std::this_thread::yield();
    T.Terminate();
    EXPECT_EQ(T.TerminatedSetCalls, 1);
    // The join does not need the main thread's help.
    std::thread Joiner([&] { T.DoneSignal()->Wait(); });
    Joiner.join();
    EXPECT_TRUE(Returned);
    EXPECT_FALSE(SynchronizeRequestsPending());
    App.ProcessMessages();
    EXPECT_FALSE(Ran);
}

TEST(Thread, TerminateWhileTheRequestRunsWaitsForIt)
{
    // A close from inside the handler: Terminate is called by the running
    // request itself; it must neither deadlock nor skip the rest of it.
    THeadlessApplication App;
    int Steps = 0;
    TLambdaThread T([&](TLambdaThread& Self) {
        Self.Synchronize([&] {
            ++Steps;
            Self.Terminate();
            ++Steps;
        });
    });
    T.Start();
    EXPECT_TRUE(App.WaitUntil([&] { return T.Finished(); }, 5s));
    EXPECT_EQ(Steps, 2);
    EXPECT_TRUE(T.Terminated());
}

TEST(Thread, MainThreadWaitForRunsTheThreadsRequests)
{
    // Joining a thread that synchronizes before it ends (not terminated).
    THeadlessApplication App;
    int Ran = 0;
    TLambdaThread T([&](TLambdaThread& Self) {
        for (int I = 0; I < 3; ++I) Self.Synchronize([&] { ++Ran; });
    });
    T.Start();
    T.WaitFor();
    EXPECT_EQ(Ran, 3);
}

TEST(Thread, DestroyingARunningThreadTerminatesAndJoinsIt)
{
    std::mutex M;
    std::condition_variable C;
    bool Woken = false;
    class TWaiter : public TThread {
    public:
        TWaiter(std::mutex& M, std::condition_variable& C, bool& W, std::atomic<bool>& R)
            : Returned(R), fM(M), fC(C), fW(W)
        {
        }
        ~TWaiter() override { TerminateAndWait(); }
        std::atomic<bool>& Returned;

    protected:
        void Execute() override
        {
            std::unique_lock<std::mutex> L(fM);
            fC.wait(L, [&] { return fW; });
            L.unlock();
            std::this_thread::sleep_for(20ms);  // a join must wait for this
            Returned = true;
        }
        void TerminatedSet() override
        {
            std::lock_guard<std::mutex> L(fM);
            fW = true;
            fC.notify_all();
        }

    private:
        std::mutex& fM;
        std::condition_variable& fC;
        bool& fW;
    };
    std::atomic<bool> Returned{false};
    auto* T = new TWaiter(M, C, Woken, Returned);
    T->Start();
    delete T;
    EXPECT_TRUE(Woken);
    EXPECT_TRUE(Returned);  // joined: Execute had ended
}

TEST(Thread, FreeOnTerminateDeletesItselfAndSignalsTheEnd)
{
    THeadlessApplication App;
    std::atomic<int> Destroyed{0};
    class TSelfFreeing : public TThread {
    public:
        explicit TSelfFreeing(std::atomic<int>& D) : fD(D) { SetFreeOnTerminate(true); }
        ~TSelfFreeing() override { ++fD; }

    protected:
        void Execute() override
        {
            Synchronize([] {});
        }

    private:
        std::atomic<int>& fD;
    };
    auto* T = new TSelfFreeing(Destroyed);
    int Terminated = 0;
    T->OnTerminate = [&](TObject*) { ++Terminated; };
    auto Done = T->DoneSignal();
    EXPECT_THROW(T->WaitFor(), EThread);
    T->Start();
    EXPECT_TRUE(App.WaitUntil([&] { return Done->Done(); }, 5s));
    EXPECT_TRUE(App.WaitUntil([&] { return Destroyed == 1; }, 5s));
    EXPECT_EQ(Terminated, 1);  // OnTerminate ran on the main thread
}

TEST(Thread, StartTwiceAndWaitingForOneselfAreErrors)
{
    THeadlessApplication App;
    std::atomic<bool> SelfWaitFailed{false};
    TLambdaThread T([&](TLambdaThread& Self) {
        try {
            Self.WaitFor();
        } catch (const EThread&) {
            SelfWaitFailed = true;
        }
    });
    EXPECT_THROW(T.WaitFor(), EThread);  // not started
    T.Start();
    EXPECT_THROW(T.Start(), EThread);
    T.WaitFor();
    EXPECT_TRUE(SelfWaitFailed);
}

TEST(Thread, QueueRunsLaterAndShowsItsErrors)
{
    THeadlessApplication App;
    std::atomic<bool> Queued{false};
    int Ran = 0;
    std::thread Worker([&] {
        TThread::Queue([&] { ++Ran; });
        TThread::Queue([] { throw Exception(u"kaputt"); });
        Queued = true;
    });
    Worker.join();
    EXPECT_EQ(Ran, 0);
    EXPECT_TRUE(App.WaitUntil([&] { return Ran == 1 && !App.MessageBoxCalls().empty(); }, 5s));
    EXPECT_EQ(App.MessageBoxCalls()[0].Text, u"kaputt.");
}

TEST(Dispatcher, WaitUntilWakesForRequestsAndForWakeWithoutPolling)
{
    THeadlessApplication App;
    std::atomic<bool> Flag{false};
    std::thread Setter([&] {
        std::this_thread::sleep_for(20ms);
        Flag = true;
        App.Wake();
    });
    auto Start = std::chrono::steady_clock::now();
    EXPECT_TRUE(App.WaitUntil([&] { return Flag.load(); }, 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 5s);
    Setter.join();
    // A predicate that never holds ends at the time-out.
    Start = std::chrono::steady_clock::now();
    EXPECT_FALSE(App.WaitUntil([] { return false; }, 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - Start, 50ms);
}

TEST(Dispatcher, MessageBoxFromAnotherThreadIsRecorded)
{
    THeadlessApplication App;
    std::thread Worker([&] { App.MessageBox(u"error", u"Error", MsgBox::IconError); });
    Worker.join();
    auto Boxes = App.MessageBoxCalls();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_FALSE(Boxes[0].OnMainThread);
    EXPECT_EQ(Boxes[0].Caption, u"Error");
}

}  // namespace
