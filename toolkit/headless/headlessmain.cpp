// The program's application without a GUI: the headless dispatcher; message
// boxes are answered with OK and written to standard error.
#include "toolkit/forms.h"

#include <cstdio>
#include <filesystem>

std::unique_ptr<TApplication> CreateApplication(int& Argc, char** Argv)
{
    auto App = std::make_unique<THeadlessApplication>();
    if (Argc > 0) {
        std::error_code Error;
        const auto Path = std::filesystem::weakly_canonical(std::filesystem::path(Argv[0]), Error);
        App->ExeName = Utf8ToUnicode(Path.string());
    }
    App->OnMessageBox = [](const THeadlessApplication::TMessageBoxCall& Call) {
        std::fprintf(stderr, "%s: %s\n", ToUtf8(Call.Caption).c_str(), ToUtf8(Call.Text).c_str());
    };
    return App;
}
