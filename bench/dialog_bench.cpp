// Time from a failed Add (Enter pressed on Add while test.dat is held by another process) to
// the error dialog being visible, over a few fresh starts of the real program.
//   dialog_bench <DateRecorder.exe> <hold_file.exe> [starts]
#include "Driver.h"
#include "ReporterProgram.h"

#include <cstdio>
#include <vector>

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Mean(const std::vector<double>& values)
{
    double sum = 0;
    for (double value : values)
        sum += value;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: dialog_bench <DateRecorder.exe> <hold_file.exe> [starts]\n");
        return 2;
    }
    const int starts = argc > 3 ? _wtoi(argv[3]) : 5;
    const int errorsPerStart = 3; // well below the ten that restart
    gui::Context context;
    context.Scenario = L"dialog-bench";
    context.RecorderExe = gui::WindowsPath(argv[1]);
    context.HoldFileExe = gui::WindowsPath(argv[2]);
    std::vector<double> first, later;
    try {
        for (int start = 0; start < starts; ++start) {
            gui::ScratchCopy copy(context);
            e2e::THeldFile held(context.HoldFileExe, copy.RecordFile());
            e2e::TProgram app(copy.Exe(), L"\"" + copy.Exe() + L"\"", copy.WorkFolder());
            for (int error = 0; error < errorsPerStart; ++error) {
                LARGE_INTEGER pressed, shown;
                QueryPerformanceCounter(&pressed);
                gui::PressKey(VK_RETURN);
                HWND dialog = nullptr;
                const ULONGLONG deadline = GetTickCount64() + 10000;
                while ((dialog = app.ErrorDialog()) == nullptr && GetTickCount64() < deadline)
                    Sleep(0);
                QueryPerformanceCounter(&shown);
                gui::Check(dialog != nullptr, L"no error dialog within 10 s");
                (error == 0 ? first : later).push_back(Milliseconds(pressed, shown));
                e2e::DismissWithEscape(app, dialog);
            }
        }
    } catch (const gui::Failure& failure) {
        std::fwprintf(stderr, L"dialog_bench: %ls\n", failure.Text.c_str());
        return 1;
    }
    std::printf("failed Add to visible error dialog, %d starts of the program:\n", starts);
    std::printf("  first error of a run:  %7.1f ms mean over %zu\n", Mean(first), first.size());
    std::printf("  later errors:          %7.1f ms mean over %zu\n", Mean(later), later.size());
    for (size_t i = 0; i < first.size(); ++i)
        std::printf("  start %zu: first %.1f ms\n", i + 1, first[i]);
    return 0;
}
