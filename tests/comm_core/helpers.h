// Shared test doubles for the component tests.
#pragma once

#include <string>
#include <vector>

#include "comm/nrcomm/nrcomm.h"

// A log sink that keeps every line it is given, formatted.
class TRecordingLog : public TnrCustomLogFile {
 public:
  struct Line {
    bool Formatted;
    TDetailLevel Level;
    UnicodeString Text;
  };
  explicit TRecordingLog(TComponent* AOwner = nullptr) : TnrCustomLogFile(AOwner) {}
  void AddLog(TDetailLevel l, const UnicodeString& s) override { Lines.push_back({false, l, s}); }
  void AddLogFmt(TDetailLevel l, const UnicodeString& Fmt, const std::vector<TFormatArg>& Args) override {
    Lines.push_back({true, l, Format(Fmt, Args)});
  }
  void AddSysInfo() override { ++SysInfoCount; }
  std::vector<Line> Lines;
  int SysInfoCount = 0;
};

// Records the codes announced through a component's notification list.
class TNotifyRecorder : public TObject {
 public:
  void DeviceNotify(TObject* Sender, int Code) {
    Senders.push_back(Sender);
    Codes.push_back(Code);
  }
  TnrNotifyEvent Event() { return TnrNotifyEvent::Bind(this, &TNotifyRecorder::DeviceNotify); }
  std::vector<TObject*> Senders;
  std::vector<int> Codes;
};

// TnrComm with its line-setting record and buffer reachable for checks.
class TTestComm : public TnrComm {
 public:
  explicit TTestComm(TComponent* AOwner = nullptr) : TnrComm(AOwner) {}
  DCB& Dcb() { return CommCfg.dcb; }
  COMMCONFIG& Config() { return CommCfg; }
  uint32_t ReceiveBufferSize() const { return glBufferSize; }
  bool HasReceiveBuffer() const { return glBuffer != nullptr; }
  const UnicodeString& LogPrefix() const { return sLogPrefix; }
};
