// The vocabulary's Win32 mappings and storage widths.
#include <gtest/gtest.h>

#include "comm/nrclasses/nrclasses.h"

TEST(Vocabulary, EnumerationsAreOneByteAndSetsHaveTheirWidths)
{
    static_assert(sizeof(TComPort) == 1 && sizeof(TTraceState) == 1 && sizeof(TParity) == 1);
    static_assert(sizeof(TTraceStates) == 2 && sizeof(TModemSignals) == 1);
    static_assert(sizeof(TIgnoreTypes) == 1 && sizeof(TComStateFlags) == 1);
    EXPECT_EQ(cpCOMxx, 8);
    EXPECT_EQ(tsEvent2, 11);
    EXPECT_EQ(fTxim, 6);
    EXPECT_EQ((TTraceStates{tsRxChar, tsEvent2}).ToBits(), 0x0801);
}

TEST(Vocabulary, TraceStatesMapToEventBitsWithTheShiftFromRx80Full)
{
    EXPECT_EQ(TraceStatesToEventMask({}), 0u);
    EXPECT_EQ(TraceStatesToEventMask({tsRxChar, tsTxEmpty}), 0x0005u);
    EXPECT_EQ(TraceStatesToEventMask({tsRing}), 0x0100u);
    EXPECT_EQ(TraceStatesToEventMask({tsRx80Full, tsEvent1, tsEvent2}), 0x1C00u);
    // Every member, then back: the table is one-to-one.
    TTraceStates all;
    for (unsigned s = tsRxChar; s <= tsEvent2; ++s) all.Include(static_cast<TTraceState>(s));
    EXPECT_EQ(TraceStatesToEventMask(all), 0x1DFFu);
    EXPECT_EQ(EventMaskToTraceStates(0x1DFF), all);
    // EV_PERR (0x0200) and unknown bits have no member.
    EXPECT_TRUE(EventMaskToTraceStates(0x0200 | 0x8000).Empty());
    EXPECT_EQ(EventMaskToTraceStates(0x0400 | 0x0008), (TTraceStates{tsRx80Full, tsCTS}));
}

TEST(Vocabulary, ModemStatusAndComStatFlags)
{
    EXPECT_EQ(ModemStatusToSignals(MS_CTS_ON | MS_RLSD_ON), (TModemSignals{msCTS, msRLSD}));
    EXPECT_EQ(ModemStatusToSignals(MS_DSR_ON | MS_RING_ON).ToBits(), 0x06);
    EXPECT_TRUE(ModemStatusToSignals(0x0F).Empty());

    COMSTAT st{};
    st.fCtsHold = 1;
    st.fXoffSent = 1;
    st.fTxim = 1;
    st.cbInQue = 0xFFFFFFFF;  // the queue counts are not flags
    EXPECT_EQ(ComStatToStateFlags(st), (TComStateFlags{fCtlHold, fXOffSent, fTxim}));
}

TEST(Vocabulary, DcbFlagsWordIsTheBitFieldsAfterBaudRate)
{
    DCB dcb{};
    dcb.BaudRate = 0xFFFFFFFF;
    dcb.XonLim = 0xFFFF;
    SetDcbFlags(dcb, DCB_FLAGS_HARDWARE);  // fBinary, fOutxCtsFlow, DTR enable, RTS handshake
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_EQ(dcb.BaudRate, 0xFFFFFFFFu);  // neighbours untouched
    EXPECT_EQ(dcb.XonLim, 0xFFFF);
    dcb.fAbortOnError = 1;
    EXPECT_EQ(GetDcbFlags(dcb), DCB_FLAGS_HARDWARE | 0x4000u);
}
