#pragma once
// A date field: short date format, drop-down calendar, no check box, no range of its own.
// Its value keeps the time of day; edits in the field or the calendar change the date part.

#include "Control.h"
#include "DateTime.h"
#include "InputMethod.h"

class TDateTimePicker : public TControl
{
public:
    explicit TDateTimePicker(std::wstring name) : TControl(std::move(name), L"TDateTimePicker") {}

    TDateTime DateTime() const noexcept { return value_; }
    void SetDateTime(TDateTime value);

    void Notify(const NMHDR& header) override;

protected:
    bool SetOwnProperty(const TLayoutProperty& property, const THandlerTable& handlers) override;
    HWND CreateWindowFor(HWND parent, int id, const TBounds& bounds) override;

private:
    TDateTime value_ = 0;
    std::wstring imeName_;
    TInputMethodSwitch ime_;
};
