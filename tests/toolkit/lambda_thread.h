// A thread that runs a body given by the test.
#pragma once

#include "toolkit/classes.h"

#include <atomic>
#include <functional>

class TLambdaThread : public TThread {
public:
    explicit TLambdaThread(std::function<void(TLambdaThread&)> Body) : fBody(std::move(Body)) {}
    // Ends and joins a thread still running when the test is over.
    ~TLambdaThread() override { TerminateAndWait(); }
    using TThread::SetReturnValue;
    std::atomic<int> TerminatedSetCalls{0};

protected:
    void Execute() override { fBody(*this); }
    void TerminatedSet() override { ++TerminatedSetCalls; }

private:
    std::function<void(TLambdaThread&)> fBody;
};
