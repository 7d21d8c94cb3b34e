// Test automation: drives the windows from a script file, as a user would, and
// reports on standard output. Started with "spectrometer --automate FILE".
//
// One action per line; "#" starts a comment. Waits time out after the given
// milliseconds (default 10000); a failed action prints "error <reason>" and
// ends the program with exit code 1.
//
//   select COMn               pick the entry COMn in the port box
//   set NAME TEXT             set the text of an edit (LECapture, eSend, EW1, EW2, EI1, EI2)
//   type NAME TEXT            type TEXT into an edit key by key (key presses and releases)
//   click NAME                press a button (bSend, CLButton, ProtokollButton, Button1..3;
//                             CaptureButton, DarkButton, ReferenceButton, LiveButton,
//                             AutoExposureButton of the open spectrum window)
//   pick NAME INDEX           pick item INDEX (from 0) of a combo box, as the user does
//                             (QuantityBox of the open spectrum window)
//   menu NAME                 run a menu item (Speichern1, Eichung1, Beenden1, Info1, Spektrum1)
//   savename PATH             what the save dialog answers next ("-" = cancel)
//   wait temperature [MS]     until the temperature panels are filled
//   wait points N [MS]        until the list holds N lines
//   wait message [MS]         until a message box was shown
//   wait port COMn [MS]       until the port box lists COMn
//   wait spectrum N [MS]      until the spectrum window has shown N captures
//   wait stored reference|dark [MS]
//                             until the spectrum window holds a reference / dark spectrum
//   wait input                prints "waiting", reads one line from standard input
//   sleep MS                  let the program run
//   print NAME                "value NAME <text>" for an edit or panel
//   print handles             "value handles <n>": the process's open handles
//   dump list                 "list <line>" per list line, then "list end"
//   screenshot PATH           writes the main window as PNG; prints "screenshot X Y",
//                             the client area's origin in the picture
//   spectrumshot PATH         the same for the spectrum window
//   resize spectrum W H       gives the spectrum window a client area of W x H
//                             (its minimum at least)
//   quit                      closes the main window
//
// Every message box is answered with OK and reported as "message <text>"
// (line breaks as "\r").
#pragma once

#include "toolkit/sysutils.h"

class TForm1;

// Reads the script and takes over the message boxes (also those shown while
// the windows are created); false when the file cannot be read.
bool LoadAutomation(const UnicodeString& ScriptFile);
// Runs the loaded script on Form once the event loop is running.
void StartAutomation(TForm1* Form);
