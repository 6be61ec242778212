// Every way a person closes the window ends the program with exit code 0 and writes nothing.
#include "Driver.h"

#include <algorithm>
#include <climits>

namespace {

using namespace gui;

// The centre of the area the window itself reports as its close box.
std::optional<POINT> CloseBox(HWND window)
{
    RECT frame;
    GetWindowRect(window, &frame);
    RECT box{LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    // The title bar's top right corner, in steps of 2 pixels: each probe is a message to the program.
    for (int y = frame.top; y < frame.top + 60 && y < frame.bottom; y += 2) {
        for (int x = frame.right - 1; x > frame.right - 100 && x > frame.left; x -= 2) {
            DWORD_PTR hit = 0;
            if (SendMessageTimeoutW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 1000, &hit) &&
                hit == HTCLOSE) {
                box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x),
                       std::max<LONG>(box.bottom, y)};
            }
        }
    }
    if (box.left > box.right)
        return std::nullopt;
    return POINT{(box.left + box.right) / 2, (box.top + box.bottom) / 2};
}

void CloseWith(const Context& context, const wchar_t* how, void (*close)(const Recorder&))
{
    ScratchCopy copy(context);
    Recorder app(copy);
    app.BringToFront();
    Log(L"closing with %ls", how);
    close(app);
    std::optional<DWORD> code = app.WaitForExit();
    Check(code.has_value(), std::wstring(L"the program still runs 10 s after ") + how);
    Check(*code == 0, std::wstring(how) + L" ended the program with exit code " + std::to_wstring(*code));
    Check(FolderEntries(copy.ExeFolder()) == std::vector<std::wstring>({L"DateRecorder.exe"}),
          L"closing wrote something beside the program");
    Check(FolderEntries(copy.WorkFolder()).empty(), L"closing wrote into the working directory");
}

void AltF4(const Context& context)
{
    CloseWith(context, L"Alt+F4", [](const Recorder&) { PressChord({VK_MENU, VK_F4}); });
}

void CloseBoxClick(const Context& context)
{
    CloseWith(context, L"a click on the close box", [](const Recorder& app) {
        std::optional<POINT> box = CloseBox(app.Main());
        Check(box.has_value(), L"the window reports no close box");
        ClickAt(*box);
    });
}

void CloseMessage(const Context& context)
{
    CloseWith(context, L"WM_CLOSE", [](const Recorder& app) { PostMessageW(app.Main(), WM_CLOSE, 0, 0); });
}

void SystemMenuClose(const Context& context)
{
    // Alt+Space opens the system menu; C is its Close item.
    CloseWith(context, L"the system menu", [](const Recorder&) {
        PressChord({VK_MENU, VK_SPACE});
        Sleep(200);
        PressKey('C');
    });
}

GUI_SCENARIO(L"close-alt-f4", AltF4);
GUI_SCENARIO(L"close-box", CloseBoxClick);
GUI_SCENARIO(L"close-message", CloseMessage);
GUI_SCENARIO(L"close-system-menu", SystemMenuClose);

} // namespace
