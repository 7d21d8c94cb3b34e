// TnrCustomSerialComm: the connection test, the Plug and Play identification
// of an external device over the line, and the port settings as one registry
// value.
//
// The registry value is REG_BINARY, exactly 49 bytes:
//   0..1   the low 8 bits of ComPortNo as a 16-bit little-endian number
//   2..29  the DCB, byte for byte (28 bytes, DCBlength first)
//   30..48 undefined; written as zeros, ignored when read
// Time-outs are not persisted: a COMMTIMEOUTS record (20 bytes) does not fit
// in the 19 undefined bytes, and putting it behind the value would change its
// size, which every reader of the format rejects. LoadConfig therefore leaves
// TimeOuts as they are.
#include <cstring>

#include "comm/nrcomm/nrcomm.h"

namespace {

constexpr DWORD kConfigValueSize = 49;
constexpr std::size_t kConfigDcbOffset = 2;
static_assert(sizeof(DCB) == 28, "the stored format holds a 28-byte DCB");
static_assert(kConfigDcbOffset + sizeof(DCB) <= kConfigValueSize);

const UnicodeString kConnectError = u"Device Connect Initialization Error";

// Plug and Play identification: markers of the two forms, and how long an
// identification may get. The published format's fields add up to well below
// 256 characters; a device that keeps sending without an end marker is cut
// off there (besides the 200 ms silence that ends any identification).
constexpr uint8_t kPnpBegin = 0x28, kPnpEnd = 0x29;    // "(" ... ")"
constexpr uint8_t kPnpBegin6 = 0x08, kPnpEnd6 = 0x09;  // 6-bit form
constexpr std::size_t kPnpMaxLength = 256;             // markers included
constexpr uint32_t kPnpPauseMs = 200;
constexpr uint32_t kPnpWaitMs = 200;

// A registry key opened with full access below a root; errors of the value
// operations raise, like the runtime's registry object.
class TConfigRegistry {
public:
    explicit TConfigRegistry(HKEY Root) : fRoot(Root) {}
    ~TConfigRegistry()
    {
        if (fKey) RegCloseKey(fKey);
    }
    TConfigRegistry(const TConfigRegistry&) = delete;
    TConfigRegistry& operator=(const TConfigRegistry&) = delete;

    // Opens Key below the root, creating it when missing. The outcome is
    // reported only through the later value operations.
    bool OpenKey(UnicodeString Key)
    {
        if (fKey) RegCloseKey(fKey);
        fKey = nullptr;
        // A leading backslash names the key from the root, as without one here.
        while (!Key.empty() && Key.front() == u'\\') Key.erase(0, 1);
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExW(fRoot, PWChar(Key), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition) != ERROR_SUCCESS)
            return false;
        fKey = key;
        return true;
    }

    void WriteBinaryData(const UnicodeString& Name, const void* Buffer, DWORD Size)
    {
        if (!fKey ||
            RegSetValueExW(fKey, PWChar(Name), 0, REG_BINARY, static_cast<const BYTE*>(Buffer), Size) != ERROR_SUCCESS)
            throw Exception(u"Failed to set data for '" + Name + u"'");
    }

    // Size of the value in bytes; false when it does not exist.
    bool QueryValue(const UnicodeString& Name, DWORD& Type, DWORD& Size)
    {
        Type = REG_NONE;
        Size = 0;
        return fKey && RegQueryValueExW(fKey, PWChar(Name), nullptr, &Type, nullptr, &Size) == ERROR_SUCCESS;
    }

    // Reads a binary value of exactly Size bytes. Text values are refused:
    // their bytes are characters, not a record.
    void ReadBinaryData(const UnicodeString& Name, void* Buffer, DWORD Size)
    {
        DWORD type = REG_NONE;
        DWORD size = Size;
        if (!fKey ||
            RegQueryValueExW(fKey, PWChar(Name), nullptr, &type, static_cast<BYTE*>(Buffer), &size) != ERROR_SUCCESS)
            throw Exception(u"Failed to get data for '" + Name + u"'");
        if (type != REG_BINARY || size != Size) throw Exception(u"Invalid data type for '" + Name + u"'");
    }

private:
    HKEY fRoot;
    HKEY fKey = nullptr;
};

// Raises DTR with RTS low on a fresh line and waits for the device's DSR.
bool DsrFollowsDtr(TnrCustomSerialComm& Com)
{
    Com.ClearDeviceBuffers();
    Com.SetStateDTR(true);
    Com.SetStateRTS(false);
    return Com.WaitForSignal(msDSR, 200);
}

}  // namespace

// ---------------------------------------------------------------------------
// Connection test

void TnrCustomSerialComm::InitDeviceConnect()
{
    if (!IsDeviceOpen()) return;
    if (DsrFollowsDtr(*this)) {
        SetStateRTS(true);
        LogMessage(dlDetail, u"The device connection was succesful tested");
    } else {
        ReportFatalError(1, 0, kConnectError, false);
    }
}

// ---------------------------------------------------------------------------
// Plug and Play identification

UnicodeString TnrCustomSerialComm::GetPNPDeviceString()
{
    UnicodeString result;
    const bool wasActive = GetActive();
    SetActive(true);
    if (!IsDeviceOpen()) return result;

    if (!DsrFollowsDtr(*this)) {
        // The port stays open; nothing else to restore yet.
        ReportFatalError(1, 0, kConnectError, false);
        return result;
    }

    ApplyCommState();
    DCB saved = CommCfg.dcb;
    DCB pnp = saved;
    pnp.BaudRate = 1200;
    pnp.ByteSize = 7;
    pnp.Parity = NOPARITY;
    pnp.StopBits = ONESTOPBIT;
    SetCommState(hPort, &pnp);

    // Without tsRxChar the receive path leaves the reply in the driver's queue
    // (unless a receiver is attached), so Read gets it.
    const TTraceStates savedTrace = GetTraceStates();
    SetTraceStates(TTraceStates());

    auto restore = [&] {
        SetCommState(hPort, &saved);
        SetTraceStates(savedTrace);
        // An open port is closed and reopened, a closed one ends closed.
        SetActive(false);
        SetActive(wasActive);
    };

    try {
        SetStateDTR(false);
        SetStateRTS(false);
        Sleep(kPnpPauseMs);
        SetStateDTR(true);
        Sleep(kPnpPauseMs);
        SetStateRTS(true);
        bool answered = WaitForBytes(1, kPnpWaitMs);
        if (!answered) {
            SetStateDTR(false);
            SetStateRTS(false);
            Sleep(kPnpPauseMs);
            SetStateDTR(true);
            SetStateRTS(true);
            answered = WaitForBytes(1, kPnpWaitMs);
        }
        if (answered) {
            uint8_t b = 0;
            Read(&b, 1);
            uint8_t endMarker = 0;
            if (b == kPnpBegin6)
                endMarker = kPnpEnd6;
            else if (b == kPnpBegin)
                endMarker = kPnpEnd;
            if (endMarker != 0) {
                result += static_cast<char16_t>(b);
                while (result.size() < kPnpMaxLength && WaitForBytes(1, kPnpWaitMs)) {
                    b = 0;
                    Read(&b, 1);
                    result += static_cast<char16_t>(b);
                    if (b == endMarker) break;
                }
            }
        }
    } catch (...) {
        // The line settings and the event mask are put back whatever failed.
        restore();
        throw;
    }
    restore();
    return result;
}

// ---------------------------------------------------------------------------
// Settings in the registry

void TnrCustomSerialComm::SaveConfig(HKEY Root, const UnicodeString& Key, const UnicodeString& Name)
{
    try {
        TConfigRegistry reg(Root);
        reg.OpenKey(Key);
        uint8_t value[kConfigValueSize] = {};
        value[0] = static_cast<uint8_t>(fComPortNo & 0xFF);
        value[1] = 0;
        std::memcpy(value + kConfigDcbOffset, &CommCfg.dcb, sizeof(DCB));
        reg.WriteBinaryData(Name, value, kConfigValueSize);
        LogMessage(dlDetail, u"Configuration was saved");
    } catch (...) {
        ReportFatalError(1, 0, u"Error on save config information from registry", false);
    }
}

void TnrCustomSerialComm::LoadConfig(HKEY Root, const UnicodeString& Key, const UnicodeString& Name)
{
    try {
        TConfigRegistry reg(Root);
        reg.OpenKey(Key);
        DWORD type = REG_NONE, size = 0;
        // A missing value, or one of another size, changes nothing.
        if (reg.QueryValue(Name, type, size) && size == kConfigValueSize) {
            uint8_t value[kConfigValueSize] = {};
            reg.ReadBinaryData(Name, value, kConfigValueSize);
            SetComPortNo(value[0]);
            std::memcpy(&CommCfg.dcb, value + kConfigDcbOffset, sizeof(DCB));
            // Flow control, RS485 mode and the XON/XOFF settings are re-imposed
            // from the component's current properties.
            ApplyCommState();
        }
        LogMessage(dlDetail, u"Configuration was loaded");
    } catch (...) {
        ReportFatalError(1, 0, u"Error on load config information from registry", false);
    }
}
