// Drives the real DateRecorder.exe as a person would, one scenario a run.
//   gui_driver <scenario> <DateRecorder.exe> [<hold_file.exe>]
#include "Driver.h"

#include <cstdio>
#include <exception>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: gui_driver <scenario> <DateRecorder.exe> [<hold_file.exe>]\nscenarios:");
        for (const std::wstring& name : gui::ScenarioNames())
            std::fwprintf(stderr, L" %ls", name.c_str());
        std::fwprintf(stderr, L"\n");
        return 2;
    }
    gui::ScenarioFunction run = gui::FindScenario(argv[1]);
    if (run == nullptr) {
        std::fwprintf(stderr, L"gui_driver: no scenario named %ls\n", argv[1]);
        return 2;
    }
    try {
        gui::Context context;
        context.Scenario = argv[1];
        context.RecorderExe = gui::WindowsPath(argv[2]);
        if (argc > 3)
            context.HoldFileExe = gui::WindowsPath(argv[3]);
        run(context);
    } catch (const gui::Failure& failure) {
        gui::Log(L"FAILED: %ls", failure.Text.c_str());
        return 1;
    } catch (const std::exception& error) {
        std::printf("  FAILED: %s\n", error.what());
        return 1;
    }
    gui::Log(L"passed");
    return 0;
}
