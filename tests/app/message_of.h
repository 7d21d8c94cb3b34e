// The message of a runtime exception that a call raises.
#pragma once

#include "toolkit/sysutils.h"

#include <gtest/gtest.h>

// Runs Call and returns the message of the E it raises; an empty text and a
// test failure when it raises nothing.
template <class E, class F>
UnicodeString MessageOf(F&& Call)
{
    try {
        Call();
    } catch (const E& e) {
        return e.Message();
    }
    ADD_FAILURE() << "no exception raised";
    return UnicodeString();
}
