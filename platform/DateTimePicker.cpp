#include "DateTimePicker.h"

#include <commctrl.h>

#include <cmath>

namespace {

// The value with its date replaced by the day of `date`, keeping its time of day.
TDateTime WithDate(TDateTime value, const SYSTEMTIME& date)
{
    SYSTEMTIME combined = DateTimeToSystemTime(value);
    combined.wYear = date.wYear;
    combined.wMonth = date.wMonth;
    combined.wDay = date.wDay;
    return SystemTimeToDateTime(combined);
}

TDateTime WithTime(TDateTime value, TDateTime time)
{
    SYSTEMTIME combined = DateTimeToSystemTime(value);
    SYSTEMTIME clock = DateTimeToSystemTime(time);
    combined.wHour = clock.wHour;
    combined.wMinute = clock.wMinute;
    combined.wSecond = clock.wSecond;
    combined.wMilliseconds = clock.wMilliseconds;
    return SystemTimeToDateTime(combined);
}

} // namespace

void TDateTimePicker::SetDateTime(TDateTime value)
{
    SYSTEMTIME time = DateTimeToSystemTime(value);
    value_ = value;
    if (Handle() != nullptr)
        SendMessageW(Handle(), DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&time));
}

void TDateTimePicker::Notify(const NMHDR& header)
{
    switch (header.code) {
    case DTN_DATETIMECHANGE: {
        const auto& change = reinterpret_cast<const NMDATETIMECHANGE&>(header);
        if (change.dwFlags == GDT_VALID)
            value_ = WithDate(value_, change.st);
        break;
    }
    case NM_SETFOCUS:
        ime_.Enter(imeName_);
        break;
    case NM_KILLFOCUS:
        ime_.Leave();
        break;
    default:
        break;
    }
}

bool TDateTimePicker::SetOwnProperty(const TLayoutProperty& property, const THandlerTable&)
{
    if (property.Name == L"Date")
        value_ = WithDate(value_, DateTimeToSystemTime(LayoutNumber(property)));
    else if (property.Name == L"Time")
        value_ = WithTime(value_, LayoutNumber(property));
    else if (property.Name == L"ImeName")
        imeName_ = LayoutString(property);
    else
        return false;
    return true;
}

HWND TDateTimePicker::CreateWindowFor(HWND parent, int id, const TBounds& bounds)
{
    HWND handle = CreateWindowExW(0, DATETIMEPICK_CLASSW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | DTS_SHORTDATEFORMAT,
                                  bounds.Left, bounds.Top, bounds.Width, bounds.Height, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                  nullptr);
    if (handle != nullptr) {
        SYSTEMTIME time = DateTimeToSystemTime(value_);
        SendMessageW(handle, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&time));
    }
    return handle;
}
