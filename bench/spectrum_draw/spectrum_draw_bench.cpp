// How long a completed capture takes to be drawn in the spectrum window: from
// the moment its last byte reaches the serial driver (a virtual port whose
// peer is this benchmark) until the window's picture is redrawn and the Qt
// event loop has handled its paint, at a client area of 1280 x 800 with two
// overlays, peak marks and saturation marks, for each measured quantity in
// turn. Then the CPU time of the process in 5 s with nothing to do, and in 5 s
// of live view waiting for an instrument that does not answer.
// Printed: median [min-max] over the rounds of each round's median and p99
// (ms), and the CPU per 5 s.
// Usage: spectrum_draw_bench [captures=30] [rounds=7]  (QT_QPA_PLATFORM=offscreen without a display)
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/acquisition.h"
#include "app/spectrum/spectrumform.h"
#include "bench/common/bench_stats.h"
#include "comm/nrcomm/nrcomm.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "platform/posix/virtual_port.h"
#include "tests/app/private_ports.h"
#include "toolkit/qt/qtapplication.h"
#include "tools/spectrosim/instrument.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// The instrument's reply to "s<us>": the two key lines and 128 point lines.
std::vector<std::string> ReplyLines(const std::array<int, spectrosim::Pixels>& Counts, int Run)
{
    std::vector<std::string> lines = {"CT:10000\r\n", "RN:" + std::to_string(Run) + "\r\n"};
    for (int p = 0; p < spectrosim::Pixels; ++p)
        lines.push_back(std::to_string(p) + " " + std::to_string(Counts[static_cast<size_t>(p)]) + "\r\n");
    return lines;
}

bool WaitFor(const std::function<bool()>& Done) { return Application->WaitUntil(Done, std::chrono::seconds(10)); }

// Sends the command, answers with all lines but the last, then times the
// last line's way to the screen (ms).
double Capture(TForm1& Form, winapi_posix::VirtualPort& Port, const std::vector<std::string>& Lines,
               const std::function<void()>& Start)
{
    Start();
    std::string head;
    for (size_t i = 0; i + 1 < Lines.size(); ++i) head += Lines[i];
    Port.Write(head);
    if (!WaitFor([&] { return Form.ListBox1->Count() == spectrosim::Pixels - 1; })) std::exit(3);
    const int before = SpectrumForm->Captures();
    const auto t0 = Clock::now();
    Port.Write(Lines.back());
    if (!WaitFor([&] { return SpectrumForm->Captures() > before; })) std::exit(3);
    Application->ProcessMessages();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void WriteDat(const fs::path& P, double Shift)
{
    std::ofstream f(P, std::ios::binary);
    f << "overlay\r\n\r\n\r\n\r\n\r\n";
    for (int p = 0; p < 128; ++p) f << 400 + 2.2 * p << " " << 300 + 200 * std::sin(p / 9.0 + Shift) << "\r\n";
}

}  // namespace

int main(int argc, char** argv)
{
    const int captures = argc > 1 ? std::atoi(argv[1]) : 30;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    const fs::path root = UsePrivatePorts("spectro-drawbench-");
    QApplication qt(argc, argv);
    TQtApplication app;
    app.MessageBoxHook = [](const UnicodeString& T, const UnicodeString&, int) {
        std::fprintf(stderr, "message: %s\n", ToUtf8(T).c_str());
        return MsgBox::IdOk;
    };
    winapi_posix::VirtualPort port(u"COM4");
    port.SetDataCallback([](const std::string&) {});  // the commands go nowhere
    ResetAcquisitionState();
    CalSlope = 2.2;
    CalOffset = 400;
    {
        TForm1 form;
        new TForm2(&form);
        form.Show();
        form.nrDeviceBox1->PickItem(form.nrDeviceBox1->Items().IndexOf(u"COM4"));
        form.TTemp->SetEnabled(false);
        form.SetExposureMs(10);
        form.Spektrum1->Click();
        TSpectrumForm& w = *SpectrumForm;
        w.SetClientSize(1280, 800);
        for (int i = 0; i < 2; ++i) {
            const fs::path dat = root / ("overlay" + std::to_string(i) + ".dat");
            WriteDat(dat, i);
            w.OpenDialog->ExecuteHook = [&](UnicodeString& F) {
                F = Utf8ToUnicode(dat.string());
                return true;
            };
            w.OverlayButton->Click();
        }
        using spectrosim::TLamp;
        const spectrosim::TSample dye{spectrosim::TSample::TKind::Dye, 0.5};
        const auto dark = ReplyLines(spectrosim::CaptureSpectrum(TLamp::Off, 10000, 1, 1, 2), 1);
        const auto blank = ReplyLines(spectrosim::CaptureSpectrum(TLamp::Halogen, 10000, 1, 2, 2), 2);
        Capture(form, port, dark, [&] { w.DarkButton->Click(); });
        Capture(form, port, blank, [&] { w.ReferenceButton->Click(); });
        // The sample, with a few saturated pixels to mark.
        auto counts = spectrosim::CaptureSpectrum(TLamp::Halogen, 10000, 1, 3, 2, dye);
        for (int p = 100; p < 104; ++p) counts[static_cast<size_t>(p)] = 1023;
        const auto sample = ReplyLines(counts, 3);

        const char* names[] = {"counts", "transmittance", "absorbance"};
        std::vector<double> p50[3], p99[3], quiet, idle;
        for (int r = 0; r < rounds; ++r) {
            for (int q = 0; q < 3; ++q) {
                w.QuantityBox->PickItem(q);
                std::vector<double> ms;
                for (int c = 0; c < captures; ++c)
                    ms.push_back(Capture(form, port, sample, [&] { w.CaptureButton->Click(); }));
                p50[q].push_back(bench::Quantile(ms, 0.5));
                p99[q].push_back(bench::Quantile(ms, 0.99));
                if (w.ShownQuantity() != static_cast<TQuantity>(q) || w.Peaks().empty()) {
                    std::fprintf(stderr, "the window does not show %s with peaks\n", names[q]);
                    return 1;
                }
            }
            // The program with its port open and nothing to do, then live view
            // waiting for an answer that does not come.
            const auto cpuOf5s = [] {
                const bench::TUsage u0 = bench::ProcessUsage();
                Application->WaitUntil([] { return false; }, std::chrono::seconds(5));
                return bench::ProcessUsage().CpuMs - u0.CpuMs;
            };
            quiet.push_back(cpuOf5s());
            w.LiveButton->Click();
            idle.push_back(cpuOf5s());
            if (!w.LiveRunning()) {
                std::fprintf(stderr, "live view ended while waiting\n");
                return 1;
            }
            w.StopRuns();
            form.bSendClick(&form);  // PointCount back to 0 for the next round
        }
        std::printf("spectrum window 1280x800, 2 overlays, %d captures x %d rounds (load %s)\n", captures, rounds,
                    bench::LoadAverage().c_str());
        std::printf("%-14s %-24s %-24s\n", "quantity", "last byte -> drawn p50 ms", "p99 ms");
        for (int q = 0; q < 3; ++q)
            std::printf("%-14s %-24s %-24s\n", names[q], bench::Format(bench::SpreadOf(p50[q]), 2).c_str(),
                        bench::Format(bench::SpreadOf(p99[q]), 2).c_str());
        std::printf("CPU per 5 s: nothing to do %s ms, live view waiting %s ms\n",
                    bench::Format(bench::SpreadOf(quiet), 2).c_str(), bench::Format(bench::SpreadOf(idle), 2).c_str());
    }
    fs::remove_all(root);
    return 0;
}
