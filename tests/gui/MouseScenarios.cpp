// Add with the mouse, and a day picked in the drop-down calendar.
#include "Driver.h"

#include <commctrl.h>

namespace {

using namespace gui;

void ClickOnAdd(const Context& context)
{
    ScratchCopy copy(context);
    Recorder app(copy);
    app.BringToFront();

    ClickAt(CentreOnScreen(app.Button()));
    ExpectFileBytes(copy.RecordFile(), Record(2012, 1, 31), L"after a click on Add");
    ClickAt(CentreOnScreen(app.Button()));
    ExpectFileBytes(copy.RecordFile(), Join({Record(2012, 1, 31), Record(2012, 1, 31)}), L"after a second click");

    // A click beside the controls is no Add; the click on Add after it shows it was handled.
    RECT client;
    GetClientRect(app.Main(), &client);
    POINT empty{client.right - 4, client.bottom - 4};
    ClientToScreen(app.Main(), &empty);
    ClickAt(empty);
    ClickAt(CentreOnScreen(app.Button()));
    ExpectFileBytes(copy.RecordFile(), Join({Record(2012, 1, 31), Record(2012, 1, 31), Record(2012, 1, 31)}),
                    L"after a click on the empty client area and one on Add");
    app.CloseAndExpectCleanExit();
}

// Memory inside the program, for the calendar's hit test, which takes a pointer.
class RemoteHitTest {
public:
    explicit RemoteHitTest(HANDLE process) : process_(process)
    {
        remote_ = VirtualAllocEx(process, nullptr, sizeof(MCHITTESTINFO), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        Check(remote_ != nullptr, L"VirtualAllocEx failed: " + SystemMessage(GetLastError()));
    }
    ~RemoteHitTest() { VirtualFreeEx(process_, remote_, 0, MEM_RELEASE); }
    RemoteHitTest(const RemoteHitTest&) = delete;
    RemoteHitTest& operator=(const RemoteHitTest&) = delete;

    std::optional<MCHITTESTINFO> At(HWND calendar, POINT client)
    {
        MCHITTESTINFO info{};
        info.cbSize = MCHITTESTINFO_V1_SIZE;
        info.pt = client;
        if (!WriteProcessMemory(process_, remote_, &info, sizeof info, nullptr))
            return std::nullopt;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(calendar, MCM_HITTEST, 0, reinterpret_cast<LPARAM>(remote_), SMTO_ABORTIFHUNG,
                                 2000, &result))
            return std::nullopt;
        if (!ReadProcessMemory(process_, remote_, &info, sizeof info, nullptr))
            return std::nullopt;
        return info;
    }

private:
    HANDLE process_;
    void* remote_;
};

// Where on the screen the calendar shows a day of the month it shows.
std::optional<POINT> DayOnScreen(HANDLE process, HWND calendar, int year, int month, int day)
{
    RemoteHitTest hitTest(process);
    RECT client;
    GetClientRect(calendar, &client);
    for (int y = 1; y < client.bottom; y += 3) {
        for (int x = 1; x < client.right; x += 3) {
            std::optional<MCHITTESTINFO> hit = hitTest.At(calendar, {x, y});
            if (hit && hit->uHit == MCHT_CALENDARDATE && hit->st.wYear == year && hit->st.wMonth == month &&
                hit->st.wDay == day) {
                // A few pixels in, clear of the cell's edge.
                POINT inside{x + 3, y + 3};
                ClientToScreen(calendar, &inside);
                return inside;
            }
        }
    }
    return std::nullopt;
}

void PickADayInTheCalendar(const Context& context)
{
    ScratchCopy copy(context);
    Recorder app(copy);
    app.BringToFront();

    // The drop-down button sits at the right end of the field.
    RECT field;
    GetWindowRect(app.Picker(), &field);
    ClickAt({field.right - GetSystemMetrics(SM_CXVSCROLL) / 2 - 1, (field.top + field.bottom) / 2});
    HWND calendar = nullptr;
    Check(WaitUntil([&] { return (calendar = app.ThreadWindowOfClass(L"SysMonthCal32")) != nullptr; }),
          L"a click on the field's drop-down button opened no calendar");

    std::optional<POINT> day = DayOnScreen(app.Process(), calendar, 2012, 1, 15);
    Check(day.has_value(), L"the calendar shows no 15 January 2012");
    ClickAt(*day);
    Check(WaitUntil([&] { return !IsWindowVisible(calendar); }), L"the calendar stayed open after a day was picked");
    const std::wstring shown = ShortDate(2012, 1, 15);
    WaitUntil([&] { return WindowText(app.Picker()) == shown; });
    Check(WindowText(app.Picker()) == shown, L"after the pick the field shows \"" + WindowText(app.Picker()) +
                                                 L"\", expected \"" + shown + L"\"");

    ClickAt(CentreOnScreen(app.Button()));
    ExpectFileBytes(copy.RecordFile(), Record(2012, 1, 15), L"Add after picking 15 January 2012");
    app.CloseAndExpectCleanExit();
}

GUI_SCENARIO(L"mouse-add", ClickOnAdd);
GUI_SCENARIO(L"calendar-pick", PickADayInTheCalendar);

} // namespace
