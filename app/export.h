// The ".dat" spectrum file: target-name rules and the writer, free of any GUI.
#pragma once

#include "toolkit/sysutils.h"

#include <cstdint>
#include <vector>

// The path the file is written to: Chosen unchanged when it contains ".dat"
// anywhere (case-sensitive), otherwise Chosen + ".dat".
UnicodeString ExportFileName(const UnicodeString& Chosen);

// The file-name part of Path up to its first ".dat"; empty without ".dat".
UnicodeString TargetName(const UnicodeString& Path);

// The five header lines, without line ends.
std::vector<UnicodeString> ExportHeader(const UnicodeString& Path, std::int32_t CaptureTimeUs);

// Creates (replaces) the file and writes the header and the list lines, each
// ended by CR LF, as Windows-1252. Raises EInOutError with the runtime's
// message ("Dateizugriff verweigert", "Zu wenig Speicherplatz",
// "E/A-Fehler %d"); lines written before a failure stay in the file.
void WriteSpectrumFile(const UnicodeString& Path, std::int32_t CaptureTimeUs,
                       const std::vector<UnicodeString>& ListLines);

#ifndef _WIN32
// The runtime's input/output error for a C library errno value: mapped to the
// Win32 error code, then to the runtime's text. Creating: the value came from
// creating the file (ENOENT then means a missing folder).
EInOutError InOutErrorFromErrno(int ErrnoValue, bool Creating = false);
#endif
