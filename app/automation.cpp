#include "app/automation.h"

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/lab/concentrationform.h"
#include "app/lab/kineticsform.h"
#include "app/spectrum/spectrumform.h"
#include "comm/nrcommbox/nrcommbox.h"

#include <winapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// Open handles of the process (ports, events; on Windows all kernel objects).
unsigned long OpenHandles()
{
    DWORD count = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &count)) return 0;
    return count;
}

// The words of a script line: the first two and the text after the first / second space.
struct TLine {
    std::string Verb, Arg1, Rest, AfterVerb;
};

TLine Split(const std::string& Line)
{
    TLine L;
    const auto s1 = Line.find(' ');
    L.Verb = Line.substr(0, s1);
    if (s1 == std::string::npos) return L;
    L.AfterVerb = Line.substr(s1 + 1);
    const auto s2 = L.AfterVerb.find(' ');
    L.Arg1 = L.AfterVerb.substr(0, s2);
    if (s2 != std::string::npos) L.Rest = L.AfterVerb.substr(s2 + 1);
    return L;
}

std::string Trimmed(const std::string& S)
{
    const auto b = S.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    return S.substr(b, S.find_last_not_of(" \t\r\n") - b + 1);
}

int ToInt(const std::string& S, int Default)
{
    int v = Default;
    return TryStrToInt(Utf8ToUnicode(S), v) ? v : Default;
}

class TAutomation {
public:
    explicit TAutomation(std::vector<std::string> Lines) : fLines(std::move(Lines)) {}

    void InstallMessageBoxHook()
    {
        Application->MessageBoxHook = [this](const UnicodeString& Text, const UnicodeString&, int) {
            std::string t = ToUtf8(Text);
            for (std::size_t p = t.find('\r'); p != std::string::npos; p = t.find('\r', p + 2)) t.replace(p, 1, "\\r");
            Out("message " + t);
            ++fMessages;
            return MsgBox::IdOk;
        };
    }

    void Run(TForm1* Form)
    {
        fForm = Form;
        int lineNo = 0;
        for (const std::string& raw : fLines) {
            ++lineNo;
            const std::string line = Trimmed(raw.substr(0, raw.find('#')));
            if (line.empty()) continue;
            if (line.rfind("wait message", 0) != 0) fMessageMark = fMessages;
            std::string error;
            const bool ok = Action(line, error);
            // A cancel armed for this action's dialog goes with it.
            if (line.rfind("cancel dialog", 0) != 0) Application->DisarmDialogCancel();
            if (!ok) {
                Out("error line " + std::to_string(lineNo) + ": " + line + ": " + error);
                Application->ExitCode = 1;
                Application->Terminate();
                return;
            }
            if (fQuit) return;
        }
    }

private:
    static void Out(const std::string& S)
    {
        std::fputs((S + "\n").c_str(), stdout);
        std::fflush(stdout);
    }

    // The object of that name in Table, or null.
    template <class T>
    static T* Named(const std::string& Name, std::initializer_list<std::pair<const char*, T*>> Table)
    {
        for (const auto& [name, object] : Table)
            if (Name == name) return object;
        return nullptr;
    }

    TEdit* Edit(const std::string& Name) const
    {
        TConcentrationForm* const c = ConcentrationForm;
        TKineticsForm* const k = KineticsForm;
        return Named<TEdit>(Name, {{"LECapture", fForm->LECapture},
                                   {"eSend", fForm->eSend},
                                   {"Edit1", fForm->Edit1},
                                   {"EW1", Form2->EW1},
                                   {"EW2", Form2->EW2},
                                   {"EI1", Form2->EI1},
                                   {"EI2", Form2->EI2},
                                   {"WavelengthEdit", c ? c->WavelengthEdit : nullptr},
                                   {"ConcEdit", c ? c->ConcEdit : nullptr},
                                   {"Wave1Edit", k ? k->WaveEdits[0] : nullptr},
                                   {"IntervalEdit", k ? k->IntervalEdit : nullptr},
                                   {"DurationEdit", k ? k->DurationEdit : nullptr}});
    }

    // Captions of the windows' result labels.
    static TLabel* Label(const std::string& Name)
    {
        TSpectrumForm* const s = SpectrumForm;
        TConcentrationForm* const c = ConcentrationForm;
        TKineticsForm* const k = KineticsForm;
        return Named<TLabel>(Name, {{"IdentLabel", s ? s->IdentLabel : nullptr},
                                    {"FitLabel", c ? c->FitLabel : nullptr},
                                    {"ResultLabel", c ? c->ResultLabel : nullptr},
                                    {"LinearLabel", k ? k->LinearLabel : nullptr},
                                    {"FirstOrderLabel", k ? k->FirstOrderLabel : nullptr}});
    }

    // The spectrum window's check boxes.
    static TCheckBox* CheckBox(const std::string& Name)
    {
        TSpectrumForm* const s = SpectrumForm;
        if (!s) return nullptr;
        for (TCheckBox* box : s->ElementChecks)
            if (ToUtf8(box->Name()) == Name) return box;
        return Named<TCheckBox>(
            Name, {{"RainbowCheck", s->RainbowCheck}, {"FillCheck", s->FillCheck}, {"DarkCheck", s->DarkCheck}});
    }

    TButton* Button(const std::string& Name) const
    {
        TSpectrumForm* const s = SpectrumForm;
        TConcentrationForm* const c = ConcentrationForm;
        TKineticsForm* const k = KineticsForm;
        return Named<TButton>(Name, {{"bSend", fForm->bSend},
                                     {"CLButton", fForm->CLButton},
                                     {"ProtokollButton", fForm->ProtokollButton},
                                     {"Button1", Form2->Button1},
                                     {"Button2", Form2->Button2},
                                     {"Button3", Form2->Button3},
                                     {"CaptureButton", s ? s->CaptureButton : nullptr},
                                     {"DarkButton", s ? s->DarkButton : nullptr},
                                     {"ReferenceButton", s ? s->ReferenceButton : nullptr},
                                     {"LiveButton", s ? s->LiveButton : nullptr},
                                     {"AutoExposureButton", s ? s->AutoExposureButton : nullptr},
                                     {"IdentifyButton", s ? s->IdentifyButton : nullptr},
                                     {"PngButton", s ? s->PngButton : nullptr},
                                     {"PdfButton", s ? s->PdfButton : nullptr},
                                     {"PrintButton", s ? s->PrintButton : nullptr},
                                     {"MeasureButton", c ? c->MeasureButton : nullptr},
                                     {"SampleButton", c ? c->SampleButton : nullptr},
                                     {"StartButton", k ? k->StartButton : nullptr},
                                     {"StopButton", k ? k->StopButton : nullptr},
                                     {"FitButton", k ? k->FitButton : nullptr}});
    }

    static TComboBox* ComboBox(const std::string& Name)
    {
        return Named<TComboBox>(Name, {{"QuantityBox", SpectrumForm ? SpectrumForm->QuantityBox : nullptr}});
    }

    TMenuItem* MenuItem(const std::string& Name) const
    {
        return Named<TMenuItem>(Name, {{"Speichern1", fForm->Speichern1},
                                       {"Eichung1", fForm->Eichung1},
                                       {"Beenden1", fForm->Beenden1},
                                       {"Info1", fForm->Info1},
                                       {"Spektrum1", fForm->Spektrum1},
                                       {"Konzentration1", fForm->Konzentration1},
                                       {"Kinetik1", fForm->Kinetik1}});
    }

    static bool Wait(const std::function<bool()>& Predicate, int Ms)
    {
        return Application->WaitUntil(Predicate, std::chrono::milliseconds(Ms));
    }

    bool Action(const std::string& Line, std::string& Error)
    {
        const TLine l = Split(Line);
        auto timeout = [](const std::string& S) { return S.empty() ? 10000 : ToInt(S, 10000); };

        if (l.Verb == "select") {
            TnrDeviceBox* box = fForm->nrDeviceBox1;
            const int i = box->Items().IndexOf(Utf8ToUnicode(l.Arg1));
            if (i < 0) {
                std::string items;
                for (int k = 0; k < box->Count(); ++k) items += (k ? " " : "") + ToUtf8(box->Items().Strings(k));
                Error = "no such port; the box lists: " + items;
                return false;
            }
            box->PickItem(i);
            return true;
        }
        if (l.Verb == "set" || l.Verb == "type") {
            TEdit* e = Edit(l.Arg1);
            if (!e) {
                Error = "no such edit";
                return false;
            }
            if (l.Verb == "set") {
                // As a paste: the whole text at once.
                e->EditedByUser(Utf8ToUnicode(l.Rest), static_cast<int>(Utf8ToUnicode(l.Rest).size()));
                return true;
            }
            e->SetFocus();
            e->TypeText(Utf8ToUnicode(l.Rest));
            return true;
        }
        if (l.Verb == "click") {
            TButton* b = Button(l.Arg1);
            if (!b) {
                Error = "no such button";
                return false;
            }
            b->Click();
            return true;
        }
        if (l.Verb == "check") {
            TCheckBox* box = CheckBox(l.Arg1);
            if (!box) {
                Error = "no such check box";
                return false;
            }
            if (l.Rest != "on" && l.Rest != "off") {
                Error = "on or off";
                return false;
            }
            // As the user's click: OnClick inside the event loop's guard.
            GuardedCall([box, on = l.Rest == "on"] { box->SetChecked(on); });
            return true;
        }
        if (l.Verb == "pick") {
            TComboBox* box = ComboBox(l.Arg1);
            if (!box) {
                Error = "no such combo box";
                return false;
            }
            const int i = ToInt(l.Rest, -1);
            if (i < 0 || i >= box->Count()) {
                Error = "no item " + l.Rest + " (" + std::to_string(box->Count()) + " items)";
                return false;
            }
            box->PickItem(i);
            return true;
        }
        if (l.Verb == "menu") {
            TMenuItem* a = MenuItem(l.Arg1);
            if (!a) {
                Error = "no such menu item";
                return false;
            }
            if (a == fForm->Beenden1) fQuit = true;
            a->Click();
            return true;
        }
        if (l.Verb == "savename") {
            const UnicodeString path = Utf8ToUnicode(l.AfterVerb);
            const auto answer = [path](UnicodeString& FileName) {
                if (path == u"-") return false;
                FileName = path;
                return true;
            };
            fForm->SaveTextFileDialog1->ExecuteHook = answer;
            if (SpectrumForm) SpectrumForm->SaveDialog->ExecuteHook = answer;
            return true;
        }
        if (l.Verb == "cancel" && l.Arg1 == "dialog") {
            if (!Application->ArmDialogCancel([](const UnicodeString& Title) { Out("cancelled " + ToUtf8(Title)); })) {
                Error = "this backend cannot close the system's dialogs";
                return false;
            }
            return true;
        }
        if (l.Verb == "wait") {
            if (l.Arg1 == "temperature") {
                if (!Wait([this] { return !fForm->C_Panel->Caption().empty() && !fForm->F_Panel->Caption().empty(); },
                          timeout(l.Rest))) {
                    Error = "no temperature";
                    return false;
                }
                Out("temperature " + ToUtf8(fForm->C_Panel->Caption()) + " " + ToUtf8(fForm->F_Panel->Caption()));
                return true;
            }
            if (l.Arg1 == "points") {
                const TLine w = Split("points " + l.Rest);
                const int n = ToInt(w.Arg1, 0);
                if (!Wait([this, n] { return fForm->ListBox1->Count() >= n; }, timeout(w.Rest))) {
                    Error = std::to_string(fForm->ListBox1->Count()) + " of " + std::to_string(n) + " points";
                    return false;
                }
                return true;
            }
            if (l.Arg1 == "spectrum") {
                const TLine w = Split("spectrum " + l.Rest);
                const int n = ToInt(w.Arg1, 0);
                if (!Wait([n] { return SpectrumForm && SpectrumForm->Captures() >= n; }, timeout(w.Rest))) {
                    Error = "the spectrum window has no capture " + std::to_string(n);
                    return false;
                }
                return true;
            }
            if (l.Arg1 == "stored") {
                const TLine w = Split("stored " + l.Rest);
                const bool reference = w.Arg1 == "reference";
                if (!reference && w.Arg1 != "dark") {
                    Error = "stored what (reference or dark)";
                    return false;
                }
                const auto held = [reference] {
                    return SpectrumForm && (reference ? SpectrumForm->Reference() : SpectrumForm->Dark());
                };
                if (!Wait(held, timeout(w.Rest))) {
                    Error = std::string("the spectrum window holds no ") + (reference ? "reference" : "dark spectrum");
                    return false;
                }
                return true;
            }
            if (l.Arg1 == "standards") {
                const TLine w = Split("standards " + l.Rest);
                const int n = ToInt(w.Arg1, 0);
                const auto measured = [] {
                    if (!ConcentrationForm) return 0;
                    const auto& s = ConcentrationForm->Standards();
                    return static_cast<int>(
                        std::count_if(s.begin(), s.end(), [](const auto& r) { return r.Absorbance.has_value(); }));
                };
                if (!Wait([&] { return measured() >= n; }, timeout(w.Rest))) {
                    Error = "the concentration window holds " + std::to_string(measured()) + " of " +
                            std::to_string(n) + " measured standards" +
                            (ConcentrationForm ? " (" + ToUtf8(ConcentrationForm->StatusLabel->Caption()) + ")" : "");
                    return false;
                }
                return true;
            }
            if (l.Arg1 == "kinetics") {
                const TLine w = Split("kinetics " + l.Rest);
                const int n = ToInt(w.Arg1, 0);
                const auto points = [] { return KineticsForm ? static_cast<int>(KineticsForm->Times().size()) : 0; };
                if (!Wait([&] { return points() >= n; }, timeout(w.Rest))) {
                    Error = "the kinetics window holds " + std::to_string(points()) + " of " + std::to_string(n) +
                            " points" + (KineticsForm ? " (" + ToUtf8(KineticsForm->StatusLabel->Caption()) + ")" : "");
                    return false;
                }
                return true;
            }
            if (l.Arg1 == "message") {
                // A box shown since the previous action began (or the previous wait ended).
                if (!Wait([this] { return fMessages > fMessageMark; }, timeout(l.Rest))) {
                    Error = "no message box";
                    return false;
                }
                fMessageMark = fMessages;
                return true;
            }
            if (l.Arg1 == "port") {
                const TLine w = Split(l.Rest);
                const UnicodeString com = Utf8ToUnicode(w.Verb);
                TnrDeviceBox* box = fForm->nrDeviceBox1;
                if (!Wait([box, com] { return box->Items().IndexOf(com) >= 0; }, timeout(w.AfterVerb))) {
                    Error = "the box does not list " + w.Verb;
                    return false;
                }
                return true;
            }
            if (l.Arg1 == "input") {
                // Blocks until the driving process writes a line: lets it act
                // between two steps (e.g. change the light source).
                Out("waiting");
                std::string line;
                if (!std::getline(std::cin, line)) {
                    Error = "standard input closed";
                    return false;
                }
                return true;
            }
            Error = "unknown wait";
            return false;
        }
        if (l.Verb == "resize" && l.Arg1 == "spectrum") {
            const TLine size = Split(l.Rest);
            const int w = ToInt(size.Verb, 0), h = ToInt(size.Arg1, 0);
            if (!SpectrumForm || w <= 0 || h <= 0) {
                Error = "no spectrum window or no size";
                return false;
            }
            SpectrumForm->SetClientSize(w, h);
            return true;
        }
        if (l.Verb == "sleep") {
            Wait([] { return false; }, ToInt(l.Arg1, 0));
            return true;
        }
        if (l.Verb == "print") {
            UnicodeString value;
            if (TEdit* e = Edit(l.Arg1))
                value = e->Text();
            else if (l.Arg1 == "C_Panel")
                value = fForm->C_Panel->Caption();
            else if (l.Arg1 == "F_Panel")
                value = fForm->F_Panel->Caption();
            else if (TLabel* label = Label(l.Arg1))
                value = label->Caption();
            else if (l.Arg1 == "handles")
                value = IntToStr(static_cast<int>(OpenHandles()));
            else {
                Error = "nothing of that name";
                return false;
            }
            Out("value " + l.Arg1 + " " + ToUtf8(value));
            return true;
        }
        if (l.Verb == "dump" && (l.Arg1 == "list" || l.Arg1 == "PeakList")) {
            TListBox* list = l.Arg1 == "list" ? fForm->ListBox1 : SpectrumForm ? SpectrumForm->PeakList : nullptr;
            if (!list) {
                Error = "no spectrum window";
                return false;
            }
            for (int i = 0; i < list->Count(); ++i) Out("list " + ToUtf8(list->Items().Strings(i)));
            Out("list end");
            return true;
        }
        if (l.Verb == "screenshot" || l.Verb == "spectrumshot" || l.Verb == "windowshot") {
            TBitmap shot;
            TPoint origin;
            Application->ProcessMessages();
            TForm* form = l.Verb == "screenshot" ? static_cast<TForm*>(fForm) : SpectrumForm;
            std::string path = l.AfterVerb;
            if (l.Verb == "windowshot") {
                form = Named<TForm>(l.Arg1, {{"concentration", ConcentrationForm}, {"kinetics", KineticsForm}});
                path = l.Rest;
            }
            if (!form || !form->GrabWindow(shot, origin) || !shot.SaveToPngFile(Utf8ToUnicode(path))) {
                Error = "cannot write the image";
                return false;
            }
            Out("screenshot " + std::to_string(origin.X) + " " + std::to_string(origin.Y));
            return true;
        }
        if (l.Verb == "quit") {
            fQuit = true;
            fForm->Close();
            return true;
        }
        Error = "unknown action";
        return false;
    }

    TForm1* fForm = nullptr;
    std::vector<std::string> fLines;
    int fMessages = 0;
    int fMessageMark = 0;
    bool fQuit = false;
};

std::shared_ptr<TAutomation> Loaded;
std::unique_ptr<TTimerHandle> StartTimer;

}  // namespace

bool LoadAutomation(const UnicodeString& ScriptFile)
{
    std::string text;
    try {
        text = ReadFileBytes(ScriptFile);
    } catch (const Exception&) {
        return false;
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto eol = text.find('\n', start);
        lines.push_back(text.substr(start, eol == std::string::npos ? std::string::npos : eol - start));
        start = eol == std::string::npos ? text.size() : eol + 1;
    }
    Loaded = std::make_shared<TAutomation>(std::move(lines));
    Loaded->InstallMessageBoxHook();
    return true;
}

void StartAutomation(TForm1* Form)
{
    if (!Loaded) return;
    // Runs once the event loop is running.
    StartTimer = Application->StartTimer(0, [automation = Loaded, Form] {
        const auto script = automation;  // the closure goes with the timer
        TForm1* const form = Form;
        StartTimer.reset();
        script->Run(form);
    });
}
