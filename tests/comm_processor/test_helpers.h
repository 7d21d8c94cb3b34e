// Shared doubles of the processor tests: a sink that records its lines and a
// device component without a device behind it.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "comm/nrclasses/nrclasses.h"

struct TLoggedLine {
  TDetailLevel Level;
  std::string Text;  // UTF-8
};

class TRecordingLog : public TnrCustomLogFile {
 public:
  using TnrCustomLogFile::TnrCustomLogFile;

  void AddLog(TDetailLevel l, const UnicodeString& s) override { Push(l, s); }
  void AddLogFmt(TDetailLevel l, const UnicodeString& Fmt, const std::vector<TFormatArg>& Args) override {
    Push(l, Format(Fmt, Args));
  }
  void AddSysInfo() override { Push(dlSimple, u"<sysinfo>"); }

  std::vector<TLoggedLine> Lines() const {
    std::lock_guard<std::mutex> lock(fMutex);
    return fLines;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& l : Lines()) out.push_back(l.Text);
    return out;
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(fMutex);
    fLines.clear();
  }

 private:
  void Push(TDetailLevel l, const UnicodeString& s) {
    std::lock_guard<std::mutex> lock(fMutex);
    fLines.push_back({l, UnicodeToUtf8(s)});
  }
  mutable std::mutex fMutex;
  std::vector<TLoggedLine> fLines;
};

// A device component that is never open; tests drive its notifications and
// receive dispatch directly and see what is sent through it.
class TFakeIO : public TnrBaseIO {
 public:
  explicit TFakeIO(TComponent* AOwner) : TnrBaseIO(AOwner) { sLogPrefix = u"fake: "; }

  int32_t GetDeviceIndex() override { return -1; }
  void DeviceListLoad() override {}
  void SendChar(char16_t Ch) override { Sent.push_back(std::string(1, static_cast<char>(Ch & 0xFF))); }
  void SendString(const AnsiString& S) override { SentStrings.push_back(S); }
  void SendData(const uint8_t* Buff, uint32_t N) override {
    if (FailSends) throw Exception(u"send failed");
    Sent.emplace_back(reinterpret_cast<const char*>(Buff), N);
  }
  void ClearDeviceInput() override {}
  void ClearDeviceOutput() override {}
  void ClearDeviceBuffers() override {}

  std::vector<std::string> Sent;
  std::vector<std::string> SentStrings;
  bool FailSends = false;
};
