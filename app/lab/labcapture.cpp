#include "app/lab/labcapture.h"

#include "app/Unit1.h"
#include "app/acquisition.h"
#include "app/spectrum/spectrumform.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<TLabCapture*>& Instances()
{
    static std::vector<TLabCapture*> all;
    return all;
}

// A capture takes about 1.3 s at 9600 baud.
constexpr unsigned NoReplyMs = 10000;

}  // namespace

TLabCapture::TLabCapture() { Instances().push_back(this); }

TLabCapture::~TLabCapture() { std::erase(Instances(), this); }

void TLabCapture::Request()
{
    fLater.reset();
    if (!Form1) throw Exception(u"Das Hauptfenster fehlt.");
    if (SpectrumForm) SpectrumForm->StopRuns();
    CancelAll();
    Form1->bSendClick(Form1);
    fWaiting = true;
    fWatchdog = Application->StartTimer(NoReplyMs, [this] {
        fWatchdog.reset();
        Fail(u"Keine vollständige Antwort vom Gerät.");
    });
}

void TLabCapture::RequestLater(unsigned Ms)
{
    fLater = Application->StartTimer(Ms, [this] {
        fLater.reset();
        try {
            Request();
        } catch (const Exception& e) {
            Fail(e.Message());
        }
    });
}

void TLabCapture::Cancel()
{
    fWaiting = false;
    fLater.reset();
    fWatchdog.reset();
}

void TLabCapture::Fail(const UnicodeString& Why)
{
    const bool asked = Waiting();
    Cancel();
    if (asked && OnFailed) OnFailed(Why);
}

void TLabCapture::CompleteAll()
{
    // A copy: a handler may ask again or close its window.
    const std::vector<TLabCapture*> all = Instances();
    for (TLabCapture* c : all) {
        if (std::find(Instances().begin(), Instances().end(), c) == Instances().end() || !c->fWaiting) continue;
        c->Cancel();
        if (c->OnCapture) c->OnCapture(TCounts(Counts.begin(), Counts.end()), CaptureTime);
    }
}

void TLabCapture::PortLostAll()
{
    const std::vector<TLabCapture*> all = Instances();
    for (TLabCapture* c : all)
        if (std::find(Instances().begin(), Instances().end(), c) != Instances().end())
            c->Fail(u"Die Verbindung wurde unterbrochen.");
}

void TLabCapture::CancelAll()
{
    const std::vector<TLabCapture*> all = Instances();
    for (TLabCapture* c : all)
        if (std::find(Instances().begin(), Instances().end(), c) != Instances().end())
            c->Fail(u"Abgebrochen: eine andere Aufnahme läuft.");
}
