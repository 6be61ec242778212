// What a person sees right after start, before touching anything.
#include "Driver.h"

namespace {

using namespace gui;

std::wstring Describe(const RECT& r)
{
    return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L" " + std::to_wstring(r.right - r.left) +
           L"x" + std::to_wstring(r.bottom - r.top);
}

// Stored layout sizes are at 96 pixels per inch; the window scales with the screen.
int Scaled(int pixels, int dpi)
{
    return MulDiv(pixels, dpi, 96);
}

void ExpectLayout(const Recorder& app, int dpi)
{
    RECT client;
    GetClientRect(app.Main(), &client);
    Log(L"client area %ldx%ld", client.right, client.bottom);
    // Scaling rounds per value; allow one pixel.
    auto roughly = [](long actual, int expected) { return actual >= expected - 1 && actual <= expected + 1; };
    Check(roughly(client.right, Scaled(301, dpi)) && roughly(client.bottom, Scaled(49, dpi)),
          L"client area is " + Describe(client) + L", expected " + std::to_wstring(Scaled(301, dpi)) + L"x" +
              std::to_wstring(Scaled(49, dpi)) + L" at " + std::to_wstring(dpi) + L" dpi");

    struct Expected {
        HWND window;
        const wchar_t* name;
        int left, top, width, height;
    };
    const Expected controls[] = {
        {app.Button(), L"Add button", 208, 8, 75, 25},
        {app.Picker(), L"date field", 16, 8, 186, 21},
    };
    for (const Expected& c : controls) {
        RECT r = RectInClientOf(c.window, app.Main());
        Check(roughly(r.left, Scaled(c.left, dpi)) && roughly(r.top, Scaled(c.top, dpi)) &&
                  roughly(r.right - r.left, Scaled(c.width, dpi)) && roughly(r.bottom - r.top, Scaled(c.height, dpi)),
              std::wstring(c.name) + L" is at " + Describe(r) + L", expected " +
                  std::to_wstring(Scaled(c.left, dpi)) + L"," + std::to_wstring(Scaled(c.top, dpi)) + L" " +
                  std::to_wstring(Scaled(c.width, dpi)) + L"x" + std::to_wstring(Scaled(c.height, dpi)));
    }
}

void StartUp(const Context& context)
{
    ScratchCopy copy(context);
    Recorder app(copy);

    wchar_t caption[64] = L"";
    GetWindowTextW(app.Main(), caption, 64);
    Check(std::wstring(caption) == L"날짜구조체 저장", L"caption is \"" + std::wstring(caption) + L"\"");

    const LONG style = GetWindowLongW(app.Main(), GWL_STYLE);
    Check((style & WS_THICKFRAME) && (style & WS_SYSMENU) && (style & WS_MINIMIZEBOX) && (style & WS_MAXIMIZEBOX),
          L"the window is not sizeable with system menu, minimise and maximise boxes");
    Check((GetWindowLongW(app.Main(), GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0,
          L"the main window does not carry the taskbar-button style itself");

    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    Log(L"screen at %d dpi", dpi);
    ExpectLayout(app, dpi);

    Check(WindowText(app.Button()) == L"Add", L"the button says \"" + WindowText(app.Button()) + L"\"");
    Check((GetWindowLongW(app.Button(), GWL_STYLE) & BS_TYPEMASK) == BS_PUSHBUTTON,
          L"the Add button is not a plain push button (a default button would take Enter everywhere)");

    const std::wstring expectedDate = ShortDate(2012, 1, 31);
    Check(WindowText(app.Picker()) == expectedDate,
          L"the date field shows \"" + WindowText(app.Picker()) + L"\", expected \"" + expectedDate + L"\"");

    app.WaitForFocus(app.Button(), L"the Add button");
    Check(!FileSize(copy.RecordFile()).has_value() && FolderEntries(copy.ExeFolder()).size() == 1,
          L"something was written beside the program before any Add");

    app.CloseAndExpectCleanExit();
    Check(FolderEntries(copy.WorkFolder()).empty(), L"the program wrote into its working directory");
}

// Sets the screen's pixels per inch for programs started from now on, and puts back the old value.
class ScreenDpi {
public:
    explicit ScreenDpi(DWORD dpi)
    {
        Check(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                              nullptr, &key_, nullptr) == ERROR_SUCCESS,
              L"cannot open HKCU\\Control Panel\\Desktop");
        DWORD size = sizeof old_;
        DWORD type = 0;
        hadValue_ = RegQueryValueExW(key_, L"LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&old_), &size) ==
                        ERROR_SUCCESS && type == REG_DWORD;
        Check(RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi) ==
                  ERROR_SUCCESS,
              L"cannot set LogPixels");
    }
    ~ScreenDpi()
    {
        if (hadValue_)
            RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_), sizeof old_);
        else
            RegDeleteValueW(key_, L"LogPixels");
        RegCloseKey(key_);
    }
    ScreenDpi(const ScreenDpi&) = delete;
    ScreenDpi& operator=(const ScreenDpi&) = delete;

private:
    HKEY key_ = nullptr;
    DWORD old_ = 0;
    bool hadValue_ = false;
};

// At 144 pixels per inch everything is one and a half times as large: 452 x 74 and so on.
void StartUpAt144Dpi(const Context& context)
{
    ScratchCopy copy(context);
    ScreenDpi dpi(144);
    Recorder app(copy);
    ExpectLayout(app, 144);
    Check(WindowText(app.Picker()) == ShortDate(2012, 1, 31), L"at 144 dpi the date field shows \"" +
                                                                  WindowText(app.Picker()) + L"\"");
    app.WaitForFocus(app.Button(), L"the Add button");
    PressKey(VK_RETURN);
    ExpectFileBytes(copy.RecordFile(), Record(2012, 1, 31), L"Enter at 144 dpi");
    app.CloseAndExpectCleanExit();
}

GUI_SCENARIO(L"startup", StartUp);
GUI_SCENARIO(L"startup-144-dpi", StartUpAt144Dpi);

} // namespace
