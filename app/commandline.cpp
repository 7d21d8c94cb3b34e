#include "app/commandline.h"

#include "comm/nrclasses/nrlogfile.h"

#include <cstdio>
#include <optional>

namespace {

bool StartsWith(const std::string& S, const char* Prefix) { return S.rfind(Prefix, 0) == 0; }

bool IsOption(const std::string& S) { return S.size() > 1 && S[0] == '-'; }

bool IsToolkitOption(const std::string& S) { return IsOption(S) && S[1] != '-' && S != "-h"; }

// "a, b, c oder d"
std::string Alternatives(const std::vector<std::string>& Names)
{
    std::string text;
    for (std::size_t i = 0; i < Names.size(); ++i) {
        if (i > 0) text += i + 1 == Names.size() ? " oder " : ", ";
        text += Names[i];
    }
    return text;
}

bool Contains(const std::vector<std::string>& Names, const std::string& Name)
{
    for (const auto& n : Names)
        if (n == Name) return true;
    return false;
}

std::vector<std::string> LogLevelNames()
{
    return {TnrLogFile::LevelName(dlSimple), TnrLogFile::LevelName(dlDetail), TnrLogFile::LevelName(dlDebug)};
}

// One option at Args[i]: its name, and its value when it has one ("--x=v" or
// "--x v"). Advances i past a value taken from the next word.
class TCursor {
public:
    TCursor(const std::vector<std::string>& Args, std::size_t& I) : fArgs(Args), fI(I)
    {
        const std::string& a = Args[I];
        const auto eq = a.find('=');
        if (StartsWith(a, "--") && eq != std::string::npos) {
            Name = a.substr(0, eq);
            fInline = a.substr(eq + 1);
        } else {
            Name = a;
        }
    }
    bool HasInlineValue() const { return fInline.has_value(); }
    // The option's value; nullopt when there is none. A following word that
    // is an option is no value ("-" alone is one).
    std::optional<std::string> Value()
    {
        if (fInline) return fInline;
        if (fI + 1 < fArgs.size() && !IsOption(fArgs[fI + 1])) return fArgs[++fI];
        return std::nullopt;
    }

    std::string Name;

private:
    const std::vector<std::string>& fArgs;
    std::size_t& fI;
    std::optional<std::string> fInline;
};

#ifdef _WIN32
const char* const kSystemNotes =
    "Die Kalibrierung steht in data\\conf.dat neben dem Programm; ein installiertes\n"
    "Programm (spektrometer.installed daneben, oder ein Ordner ohne Schreibrecht)\n"
    "nimmt %APPDATA%\\Spektrometer\\data\\conf.dat.\n";
#else
const char* const kSystemNotes =
    "Optionen von Qt mit einem Strich (-platform offscreen, -style fusion) gehen\n"
    "an Qt.\n"
    "Die Kalibrierung steht in data/conf.dat neben dem Programm; ein installiertes\n"
    "Programm (in einem Ordner bin/ ohne data/ daneben) nimmt\n"
    "$XDG_DATA_HOME/spectrometer/data/conf.dat (sonst ~/.local/share/...).\n";
#endif

}  // namespace

std::string ParseCommandLine(const std::vector<std::string>& Args, const std::vector<std::string>& LampNames,
                             TToolkitOptions Toolkit, TProgramOptions& Options)
{
    for (std::size_t i = 1; i < Args.size(); ++i) {
        const std::string& arg = Args[i];
        if (Toolkit == TToolkitOptions::Leave && IsToolkitOption(arg)) {
            if (i + 1 < Args.size() && !IsOption(Args[i + 1])) ++i;  // its value, if it has one
            continue;
        }
        if (!IsOption(arg)) return "unerwartetes Argument \"" + arg + "\"";
        TCursor option(Args, i);
        const std::string& name = option.Name;
        const bool flag = name == "--help" || name == "-h" || name == "--version" || name == "--simulator-fast";
        if (flag && option.HasInlineValue()) return name + " nimmt keinen Wert";
        if (name == "--help" || name == "-h") {
            Options.Help = true;
        } else if (name == "--version") {
            Options.Version = true;
        } else if (name == "--simulator-fast") {
            Options.Simulator = true;
            Options.SimulatorFast = true;
        } else if (name == "--simulator") {
            Options.Simulator = true;
            if (auto lamp = option.Value()) {
                if (!Contains(LampNames, *lamp))
                    return "unbekannte Lichtquelle \"" + *lamp + "\" (" + Alternatives(LampNames) + ")";
                Options.Lamp = *lamp;
            }
        } else if (name == "--automate") {
            auto file = option.Value();
            if (!file || file->empty()) return "--automate braucht einen Dateinamen";
            Options.Script = *file;
        } else if (name == "--log") {
            auto file = option.Value();
            if (!file || file->empty()) return "--log braucht einen Dateinamen (oder - für die Standardfehlerausgabe)";
        } else if (name == "--log-level") {
            auto level = option.Value();
            if (!level) return "--log-level braucht " + Alternatives(LogLevelNames());
            if (!Contains(LogLevelNames(), *level))
                return "unbekannte Protokollstufe \"" + *level + "\" (" + Alternatives(LogLevelNames()) + ")";
        } else {
            return "unbekannte Option \"" + arg + "\"";
        }
    }
    return {};
}

std::string UsageText(const std::vector<std::string>& LampNames)
{
    const std::string lamps = LampNames.empty() ? std::string("-") : Alternatives(LampNames);
    const std::string firstLamp = LampNames.empty() ? std::string("-") : LampNames.front();
    return "Aufruf: spectrometer [OPTION]...\n"
           "Messprogramm für ein Schulspektrometer am seriellen Port.\n"
           "\n"
           "  --simulator [LICHTQUELLE]  simuliertes Gerät an einem eigenen Port (COM9 oder\n"
           "                             der nächste freie Name); Lichtquellen:\n"
           "                             " +
           lamps +
           "\n"
           "                             (Vorgabe: " +
           firstLamp +
           ")\n"
           "  --simulator-fast           simuliertes Gerät, antwortet ohne Leitungstempo\n"
           "  --automate DATEI           bedient die Fenster nach einem Skript (Tests)\n"
           "  --log DATEI|-              Protokoll der Port-Komponente in DATEI\n"
           "                             (-: Standardfehlerausgabe)\n"
           "  --log-level STUFE          " +
           Alternatives(LogLevelNames()) +
           " (Vorgabe: debug)\n"
           "  -h, --help                 zeigt diese Hilfe\n"
           "  --version                  zeigt die Version\n"
           "\n" +
           kSystemNotes;
}

std::string VersionText() { return std::string("spectrometer ") + SPECTRO_VERSION + "\n"; }

int CommandLineExitCode(const std::string& Fault, const TProgramOptions& Options,
                        const std::vector<std::string>& LampNames)
{
    if (!Fault.empty()) {
        std::fprintf(stderr, "spectrometer: %s\n\n%s", Fault.c_str(), UsageText(LampNames).c_str());
        return 2;
    }
    if (Options.Help || Options.Version) {
        std::fputs(Options.Help ? UsageText(LampNames).c_str() : VersionText().c_str(), stdout);
        std::fflush(stdout);
        return 0;
    }
    return -1;
}
