// The notification list and the window timer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "comm/nrclasses/nrclasses.h"
#include "tests/comm_core/helpers.h"

using namespace std::chrono;

TEST(NotifyList, IdentityIsMethodAndObject)
{
    TNotifyRecorder a, b;
    TnrNotifyList list;
    EXPECT_EQ(list.IndexOf(a.Event()), -1);
    EXPECT_EQ(list.Add(a.Event()), 0);
    EXPECT_EQ(list.Add(b.Event()), 1);
    EXPECT_EQ(list.IndexOf(a.Event()), 0);
    EXPECT_EQ(list.IndexOf(b.Event()), 1);  // same method, other object: another entry
    EXPECT_FALSE(TnrNotifyEvent() == a.Event());

    list.Put(0, b.Event());
    EXPECT_EQ(list.IndexOf(b.Event()), 0);
    EXPECT_EQ(list.IndexOf(a.Event()), -1);
    EXPECT_EQ(list.Get(1).Target(), &b);
}

TEST(NotifyList, BadIndexesRaiseTheListError)
{
    TNotifyRecorder a;
    TnrNotifyList list;
    list.Add(a.Event());
    EXPECT_THROW(list.Delete(1), EListError);
    EXPECT_THROW(list.Delete(-1), EListError);
    EXPECT_THROW(list.Get(5), EListError);
    EXPECT_THROW(list.Put(1, a.Event()), EListError);
    EXPECT_EQ(list.Count(), 1);
}

namespace {
struct Tagged : TObject {
    Tagged(std::string& L, char T) : log(&L), tag(T) {}
    std::string* log;
    char tag;
    void Handle(TObject*, int) { *log += tag; }
};
}  // namespace

TEST(NotifyList, CallReachesEveryEntryInOrderAndClearEmptiesIt)
{
    TNotifyRecorder a, b, c;
    TnrNotifyList list;
    list.Call(&a, 1);  // empty: nothing
    list.Add(a.Event());
    list.Add(b.Event());
    list.Add(c.Event());
    TObject sender;
    list.Call(&sender, 3);
    EXPECT_EQ(a.Codes, std::vector<int>{3});
    EXPECT_EQ(b.Codes, std::vector<int>{3});
    EXPECT_EQ(c.Codes, std::vector<int>{3});
    EXPECT_EQ(a.Senders.front(), &sender);

    std::string log;
    Tagged x(log, 'x'), y(log, 'y');
    list.Put(0, TnrNotifyEvent::Bind(&y, &Tagged::Handle));
    list.Put(2, TnrNotifyEvent::Bind(&x, &Tagged::Handle));
    list.Call(&sender, 4);
    EXPECT_EQ(log, "yx");
    EXPECT_EQ(b.Codes, (std::vector<int>{3, 4}));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.IndexOf(b.Event()), -1);
}

namespace {
struct Adder : TObject {
    TnrNotifyList* list = nullptr;
    TNotifyRecorder* late = nullptr;
    int calls = 0;
    void Handle(TObject*, int Code)
    {
        ++calls;
        if (Code == 1) list->Add(late->Event());  // added during the call
        if (Code == 9) throw Exception(u"boom");
    }
};
}  // namespace

TEST(NotifyList, CountIsReadOnceAndAnErrorEndsTheCall)
{
    TnrNotifyList list;
    TNotifyRecorder late, after;
    Adder adder;
    adder.list = &list;
    adder.late = &late;
    list.Add(TnrNotifyEvent::Bind(&adder, &Adder::Handle));
    list.Call(nullptr, 1);
    EXPECT_TRUE(late.Codes.empty());  // not called in the pass that added it
    EXPECT_EQ(list.Count(), 2);

    list.Clear();
    list.Add(TnrNotifyEvent::Bind(&adder, &Adder::Handle));
    list.Add(after.Event());
    EXPECT_THROW(list.Call(nullptr, 9), Exception);
    EXPECT_TRUE(after.Codes.empty());
}

// --- TnrTimer --------------------------------------------------------------

class NrTimer : public ::testing::Test {
protected:
    THeadlessApplication app;
    int ticks = 0;
    steady_clock::time_point firstTick{};
    TNotifyEvent Counter()
    {
        return [this](TObject*) {
            if (ticks++ == 0) firstTick = steady_clock::now();
        };
    }
    bool WaitTicks(int n, milliseconds timeout)
    {
        return app.WaitUntil([&] { return ticks >= n; }, timeout);
    }
};

TEST_F(NrTimer, ArmedExactlyWhenIntervalEnabledAndHandler)
{
    TnrTimer t;
    EXPECT_TRUE(t.GetEnabled());
    EXPECT_EQ(t.GetInterval(), 1000u);
    EXPECT_FALSE(t.IsArmed());  // no handler yet
    t.SetOnTimer(Counter());
    EXPECT_TRUE(t.IsArmed());
    t.SetInterval(0);
    EXPECT_FALSE(t.IsArmed());
    EXPECT_TRUE(t.GetEnabled());
    t.SetInterval(20);
    EXPECT_TRUE(t.IsArmed());
    t.SetEnabled(false);
    EXPECT_FALSE(t.IsArmed());
    t.SetEnabled(true);
    t.SetOnTimer(nullptr);
    EXPECT_FALSE(t.IsArmed());
    t.DoTimer();  // a stray tick calls nothing
    EXPECT_EQ(ticks, 0);
}

TEST_F(NrTimer, TicksRepeatAndSurviveAFailingHandler)
{
    TnrTimer t;
    t.SetInterval(15);
    t.SetOnTimer([this](TObject* Sender) {
        EXPECT_NE(Sender, nullptr);
        ++ticks;
        throw Exception(u"handler error");
    });
    EXPECT_TRUE(WaitTicks(3, seconds(5)));
    EXPECT_TRUE(t.IsArmed());
}

TEST_F(NrTimer, EqualEnabledKeepsThePeriodAndARestartBeginsANewOne)
{
    {
        TnrTimer t;
        t.SetInterval(400);
        const auto start = steady_clock::now();
        t.SetOnTimer(Counter());
        app.WaitUntil([] { return false; }, milliseconds(250));
        t.SetEnabled(true);  // same value: no restart
        ASSERT_TRUE(WaitTicks(1, seconds(5)));
        EXPECT_LT(firstTick - start, milliseconds(560));
    }
    ticks = 0;
    {
        TnrTimer t;
        t.SetInterval(400);
        t.SetOnTimer(Counter());
        app.WaitUntil([] { return false; }, milliseconds(250));
        const auto restart = steady_clock::now();
        t.SetEnabled(false);
        t.SetEnabled(true);  // a full new period from here
        ASSERT_TRUE(WaitTicks(1, seconds(5)));
        EXPECT_GE(firstTick - restart, milliseconds(380));
    }
}
