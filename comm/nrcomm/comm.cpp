// TnrComm: the published properties of the serial port component and their
// stored (streamed) text form.
#include "comm/nrcomm/nrcomm.h"

#include <limits>

TnrComm::TnrComm(TComponent* AOwner) : TnrCustomSerialComm(AOwner) {}

TnrComm::~TnrComm() { StopThreadsForDestroy(); }

const std::vector<UnicodeString>& TnrComm::PublishedProperties()
{
    static const std::vector<UnicodeString> names = {
        u"Log",           u"OnFatalError", u"Active",         u"BaudRate",       u"Parity",
        u"StopBits",      u"ByteSize",     u"ComPortNo",      u"ComPort",        u"TraceStates",
        u"ModemSignals",  u"EventChar",    u"StreamProtocol", u"DataProcessor",  u"BufferInSize",
        u"BufferOutSize", u"TimeoutRead",  u"TimeoutWrite",   u"RS485Mode",      u"EnumPorts",
        u"UseMainThread", u"Terminal",     u"TerminalUsage",  u"TerminalEcho",   u"MonitorCTS",
        u"MonitorDSR",    u"MonitorRLSD",  u"MonitorRing",    u"OnAfterReceive", u"OnAfterSend",
        u"OnTraceState",  u"OnCommError",  u"OnClose"};
    return names;
}

namespace {

// Value names of the enumerations, in ordinal order.
const std::vector<UnicodeString> kParity = {u"pNone", u"pOdd", u"pEven", u"pMark", u"pSpace"};
const std::vector<UnicodeString> kStopBits = {u"sbOne", u"sbOneAndHalf", u"sbTwo"};
const std::vector<UnicodeString> kComPort = {u"cpCOM1", u"cpCOM2", u"cpCOM3", u"cpCOM4", u"cpCOM5",
                                             u"cpCOM6", u"cpCOM7", u"cpCOM8", u"cpCOMxx"};
const std::vector<UnicodeString> kProtocol = {u"spNone", u"spXonXoff", u"spHardware"};
const std::vector<UnicodeString> kEnumPorts = {u"epQuickAll", u"epFullInfo", u"epFullPresent"};
const std::vector<UnicodeString> kUsage = {u"tuNone", u"tuSend", u"tuReceive", u"tuBoth"};
const std::vector<UnicodeString> kTraceState = {u"tsRxChar", u"tsRxFlag",   u"tsTxEmpty", u"tsCTS",
                                                u"tsDSR",    u"tsRLSD",     u"tsBreak",   u"tsErr",
                                                u"tsRing",   u"tsRx80Full", u"tsEvent1",  u"tsEvent2"};
const std::vector<UnicodeString> kModemSignal = {u"msCTS", u"msDSR", u"msRing", u"msRLSD"};

int EnumIndex(const std::vector<UnicodeString>& Names, const UnicodeString& Text)
{
    const UnicodeString t = Trim(Text);
    for (std::size_t i = 0; i < Names.size(); ++i)
        if (SameText(Names[i], t)) return static_cast<int>(i);
    return -1;
}

bool ParseBool(const UnicodeString& Text, bool& Value)
{
    const UnicodeString t = Trim(Text);
    if (SameText(t, u"True")) {
        Value = true;
        return true;
    }
    if (SameText(t, u"False")) {
        Value = false;
        return true;
    }
    return false;
}

bool ParseUnsigned(const UnicodeString& Text, unsigned long long Max, unsigned long long& Value)
{
    long long v = 0;
    if (!TryStrToInt64(Trim(Text), v) || v < 0 || static_cast<unsigned long long>(v) > Max) return false;
    Value = static_cast<unsigned long long>(v);
    return true;
}

// "[a,b]" with names of Names; the empty set is "[]".
bool ParseSet(const std::vector<UnicodeString>& Names, const UnicodeString& Text, uint32_t& Bits)
{
    UnicodeString t = Trim(Text);
    if (t.size() < 2 || t.front() != u'[' || t.back() != u']') return false;
    t = t.substr(1, t.size() - 2);
    Bits = 0;
    std::size_t start = 0;
    while (start <= t.size()) {
        std::size_t comma = t.find(u',', start);
        if (comma == UnicodeString::npos) comma = t.size();
        const UnicodeString item = Trim(t.substr(start, comma - start));
        if (!item.empty()) {
            const int i = EnumIndex(Names, item);
            if (i < 0) return false;
            Bits |= 1u << i;
        } else if (comma < t.size()) {
            return false;  // an empty item between commas
        }
        start = comma + 1;
    }
    return true;
}

UnicodeString SetText(const std::vector<UnicodeString>& Names, uint32_t Bits)
{
    UnicodeString s = u"[";
    for (std::size_t i = 0; i < Names.size(); ++i) {
        if (!(Bits & (1u << i))) continue;
        if (s.size() > 1) s += u',';
        s += Names[i];
    }
    return s + u"]";
}

UnicodeString BoolText(bool Value) { return Value ? u"True" : u"False"; }

UnicodeString EnumText(const std::vector<UnicodeString>& Names, unsigned Ordinal)
{
    return Ordinal < Names.size() ? Names[Ordinal] : UnicodeString();
}

}  // namespace

bool TnrComm::ReadProperty(const UnicodeString& Name, const UnicodeString& Value)
{
    unsigned long long n = 0;
    bool b = false;
    int e = -1;
    if (SameText(Name, u"Active")) {
        if (!ParseBool(Value, b)) return false;
        SetActive(b);
    } else if (SameText(Name, u"BaudRate")) {
        if (!ParseUnsigned(Value, std::numeric_limits<uint32_t>::max(), n)) return false;
        SetBaudRate(static_cast<uint32_t>(n));
    } else if (SameText(Name, u"Parity")) {
        if ((e = EnumIndex(kParity, Value)) < 0) return false;
        SetParity(static_cast<TParity>(e));
    } else if (SameText(Name, u"StopBits")) {
        if ((e = EnumIndex(kStopBits, Value)) < 0) return false;
        SetStopBits(static_cast<TStopBits>(e));
    } else if (SameText(Name, u"ByteSize")) {
        if (!ParseUnsigned(Value, 255, n)) return false;
        SetByteSize(static_cast<uint8_t>(n));
    } else if (SameText(Name, u"ComPortNo")) {
        if (!ParseUnsigned(Value, 65535, n)) return false;
        SetComPortNo(static_cast<uint16_t>(n));
    } else if (SameText(Name, u"ComPort")) {
        if ((e = EnumIndex(kComPort, Value)) < 0) return false;
        SetComPort(static_cast<TComPort>(e));
    } else if (SameText(Name, u"TraceStates")) {
        uint32_t bits = 0;
        if (!ParseSet(kTraceState, Value, bits)) return false;
        SetTraceStates(TTraceStates::FromBits(static_cast<uint16_t>(bits)));
    } else if (SameText(Name, u"EventChar")) {
        // "#n" (the character code) or the character itself.
        const UnicodeString t = Trim(Value);
        if (t.size() > 1 && t[0] == u'#') {
            if (!ParseUnsigned(t.substr(1), 65535, n)) return false;
            SetEventChar(static_cast<char16_t>(n));
        } else if (Value.size() == 1) {
            SetEventChar(Value[0]);
        } else {
            return false;
        }
    } else if (SameText(Name, u"StreamProtocol")) {
        if ((e = EnumIndex(kProtocol, Value)) < 0) return false;
        SetStreamProtocol(static_cast<TStreamProtocol>(e));
    } else if (SameText(Name, u"BufferInSize")) {
        if (!ParseUnsigned(Value, 65535, n)) return false;
        SetBufferInSize(static_cast<uint16_t>(n));
    } else if (SameText(Name, u"BufferOutSize")) {
        if (!ParseUnsigned(Value, 65535, n)) return false;
        SetBufferOutSize(static_cast<uint16_t>(n));
    } else if (SameText(Name, u"TimeoutRead")) {
        if (!ParseUnsigned(Value, std::numeric_limits<uint32_t>::max(), n)) return false;
        SetTimeoutRead(static_cast<uint32_t>(n));
    } else if (SameText(Name, u"TimeoutWrite")) {
        if (!ParseUnsigned(Value, std::numeric_limits<uint32_t>::max(), n)) return false;
        SetTimeoutWrite(static_cast<uint32_t>(n));
    } else if (SameText(Name, u"RS485Mode")) {
        if (!ParseBool(Value, b)) return false;
        SetRS485Mode(b);
    } else if (SameText(Name, u"EnumPorts")) {
        if ((e = EnumIndex(kEnumPorts, Value)) < 0) return false;
        SetEnumPorts(static_cast<TnrEnumPorts>(e));
    } else if (SameText(Name, u"UseMainThread")) {
        if (!ParseBool(Value, b)) return false;
        SetUseMainThread(b);
    } else if (SameText(Name, u"TerminalUsage")) {
        if ((e = EnumIndex(kUsage, Value)) < 0) return false;
        SetTerminalUsage(static_cast<TTerminalUsage>(e));
    } else if (SameText(Name, u"TerminalEcho")) {
        if (!ParseBool(Value, b)) return false;
        SetTerminalEcho(b);
    } else {
        return false;  // unknown, read-only, a reference or an event
    }
    return true;
}

UnicodeString TnrComm::WriteProperty(const UnicodeString& Name)
{
    if (SameText(Name, u"Active")) return BoolText(GetActive());
    if (SameText(Name, u"BaudRate")) return UIntToStr(GetBaudRate());
    if (SameText(Name, u"Parity")) return EnumText(kParity, GetParity());
    if (SameText(Name, u"StopBits")) return EnumText(kStopBits, GetStopBits());
    if (SameText(Name, u"ByteSize")) return UIntToStr(GetByteSize());
    if (SameText(Name, u"ComPortNo")) return UIntToStr(GetComPortNo());
    if (SameText(Name, u"ComPort")) return EnumText(kComPort, GetComPort());
    if (SameText(Name, u"TraceStates")) return SetText(kTraceState, GetTraceStates().ToBits());
    if (SameText(Name, u"ModemSignals")) return SetText(kModemSignal, GetModemSignals().ToBits());
    if (SameText(Name, u"EventChar")) return u"#" + UIntToStr(GetEventChar());
    if (SameText(Name, u"StreamProtocol")) return EnumText(kProtocol, GetStreamProtocol());
    if (SameText(Name, u"BufferInSize")) return UIntToStr(GetBufferInSize());
    if (SameText(Name, u"BufferOutSize")) return UIntToStr(GetBufferOutSize());
    if (SameText(Name, u"TimeoutRead")) return UIntToStr(GetTimeoutRead());
    if (SameText(Name, u"TimeoutWrite")) return UIntToStr(GetTimeoutWrite());
    if (SameText(Name, u"RS485Mode")) return BoolText(GetRS485Mode());
    if (SameText(Name, u"EnumPorts")) return EnumText(kEnumPorts, GetEnumPorts());
    if (SameText(Name, u"UseMainThread")) return BoolText(GetUseMainThread());
    if (SameText(Name, u"TerminalUsage")) return EnumText(kUsage, GetTerminalUsage());
    if (SameText(Name, u"TerminalEcho")) return BoolText(GetTerminalEcho());
    return UnicodeString();
}
