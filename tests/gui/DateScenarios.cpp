// A date typed into the field reaches the record; the time of day the field also holds
// (09:41 from the stored layout) never moves a record to another day.
#include "Driver.h"

namespace {

using namespace gui;

struct TypedDate {
    const wchar_t* what;
    std::vector<std::wstring> fields; // month, day, year: what to type in each, empty to skip
    int year, month, day;
};

// Typed with the field's own keys: Right selects the next part, digits replace it.
void TypeDate(const TypedDate& date)
{
    for (const std::wstring& part : date.fields) {
        PressKey(VK_RIGHT);
        TypeText(part);
    }
}

const TypedDate Dates[] = {
    {L"month", {L"05"}, 2012, 5, 31},
    {L"day", {L"", L"15"}, 2012, 1, 15},
    {L"leap day", {L"02", L"29"}, 2012, 2, 29},
    // 9999-12-31 itself is refused: with the field's time of day it lies past the control's maximum.
    {L"near the end of the calendar", {L"12", L"30", L"9999"}, 9999, 12, 30},
    // Before 30 December 1899 the value is negative; its time of day must not make it the day before.
    {L"year before 1900", {L"", L"", L"1850"}, 1850, 1, 31},
    {L"day before day 0", {L"12", L"29", L"1899"}, 1899, 12, 29},
    {L"first day the field takes", {L"09", L"14", L"1752"}, 1752, 9, 14},
};

void TypedDatesReachTheRecord(const Context& context)
{
    for (const TypedDate& date : Dates) {
        Log(L"%ls", date.what);
        ScratchCopy copy(context);
        Recorder app(copy);
        app.WaitForFocus(app.Button(), L"the Add button at start");

        PressKey(VK_TAB);
        app.WaitForFocus(app.Picker(), L"the date field");
        TypeDate(date);
        const std::wstring shown = ShortDate(date.year, date.month, date.day);
        WaitUntil([&] { return WindowText(app.Picker()) == shown; });
        Check(WindowText(app.Picker()) == shown, std::wstring(date.what) + L": the field shows \"" +
                                                     WindowText(app.Picker()) + L"\", expected \"" + shown + L"\"");
        PressKey(VK_TAB);
        app.WaitForFocus(app.Button(), L"the Add button");
        PressKey(VK_SPACE);
        ExpectFileBytes(copy.RecordFile(), Record(date.year, date.month, date.day), date.what);
        app.CloseAndExpectCleanExit();
    }
}

// Records follow the field as it changes, oldest first, each one the date shown at its Add.
void RecordsFollowTheField(const Context& context)
{
    ScratchCopy copy(context);
    Recorder app(copy);
    app.WaitForFocus(app.Button(), L"the Add button at start");
    std::vector<Bytes> expected;

    PressKey(VK_RETURN);
    expected.push_back(Record(2012, 1, 31));
    ExpectFileBytes(copy.RecordFile(), Join(expected), L"first Add");

    const TypedDate changes[] = {
        {L"month 05", {L"05"}, 2012, 5, 31},
        {L"then day 15", {L"", L"15"}, 2012, 5, 15},
        {L"then year 2013", {L"", L"", L"2013"}, 2013, 5, 15},
    };
    for (const TypedDate& change : changes) {
        PressKey(VK_TAB);
        app.WaitForFocus(app.Picker(), L"the date field");
        TypeDate(change);
        PressKey(VK_TAB);
        app.WaitForFocus(app.Button(), L"the Add button");
        PressKey(VK_RETURN);
        PressKey(VK_SPACE);
        expected.push_back(Record(change.year, change.month, change.day));
        expected.push_back(Record(change.year, change.month, change.day));
        ExpectFileBytes(copy.RecordFile(), Join(expected), change.what);
    }
    app.CloseAndExpectCleanExit();
}

GUI_SCENARIO(L"typed-dates", TypedDatesReachTheRecord);
GUI_SCENARIO(L"records-follow-the-field", RecordsFollowTheField);

} // namespace
