// Test automation: drives the windows from a script file, as a user would, and
// reports on standard output. Started with "spectrometer --automate FILE".
//
// One action per line; "#" starts a comment. Waits time out after the given
// milliseconds (default 10000); a failed action prints "error <reason>" and
// ends the program with exit code 1.
//
//   select COMn               pick the entry COMn in the port box
//   set NAME TEXT             set the text of an edit (LECapture, eSend, EW1, EW2, EI1, EI2;
//                             WavelengthEdit, ConcEdit of the concentration window;
//                             Wave1Edit (λ1), IntervalEdit, DurationEdit of the kinetics window)
//   type NAME TEXT            type TEXT into an edit key by key (key presses and releases)
//   click NAME                press a button (bSend, CLButton, ProtokollButton, Button1..3;
//                             CaptureButton, DarkButton, ReferenceButton, LiveButton,
//                             AutoExposureButton, IdentifyButton, PngButton, PdfButton,
//                             PrintButton of the open spectrum window;
//                             MeasureButton, SampleButton of the concentration window;
//                             StartButton, StopButton, FitButton of the kinetics window)
//   check NAME on|off         tick or clear a check box of the spectrum window as a click
//                             does (its OnClick runs when the state changes): ElementHCheck,
//                             ElementHeCheck, … (one per library element), RainbowCheck,
//                             FillCheck, DarkCheck
//   pick NAME INDEX           pick item INDEX (from 0) of a combo box, as the user does
//                             (QuantityBox of the open spectrum window)
//   menu NAME                 run a menu item (Speichern1, Eichung1, Beenden1, Info1, Spektrum1,
//                             Konzentration1, Kinetik1)
//   savename PATH             what the save dialogs of the main window and of the open
//                             spectrum window answer from now on ("-" = cancel)
//   cancel dialog             the next action's first system dialog (print or save dialog,
//                             a box the system shows on its own) is closed as with its Cancel
//                             button; prints "cancelled <its title>"
//   wait temperature [MS]     until the temperature panels are filled
//   wait points N [MS]        until the list holds N lines
//   wait message [MS]         until a message box was shown
//   wait port COMn [MS]       until the port box lists COMn
//   wait spectrum N [MS]      until the spectrum window has shown N captures
//   wait stored reference|dark [MS]
//                             until the spectrum window holds a reference / dark spectrum
//   wait standards N [MS]     until the concentration window holds N measured standards
//   wait kinetics N [MS]      until the kinetics window holds N points
//   wait input                prints "waiting", reads one line from standard input
//   sleep MS                  let the program run
//   print NAME                "value NAME <text>" for an edit, panel or label (IdentLabel of
//                             the spectrum window; FitLabel, ResultLabel of the concentration
//                             window; LinearLabel, FirstOrderLabel of the kinetics window)
//   print handles             "value handles <n>": the process's open handles
//   dump list|PeakList        "list <line>" per line of the main window's list (or of the
//                             spectrum window's peak list), then "list end"
//   screenshot PATH           writes the main window as PNG; prints "screenshot X Y",
//                             the client area's origin in the picture
//   spectrumshot PATH         the same for the spectrum window
//   windowshot concentration|kinetics PATH
//                             the same for a lab window
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
