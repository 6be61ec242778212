#include "RecordFileFixture.h"

#include "Exceptions.h"

#include <commctrl.h>

#include <cmath>

namespace {

RECT ChildRect(HWND child)
{
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

class MainWindowLayout : public RecordFileTest {};

TEST_F(MainWindowLayout, TheStoredLayoutIsAppliedAndBoundByName)
{
    ASSERT_NE(form_->btnAdd, nullptr);
    ASSERT_NE(form_->dtpDate, nullptr);
    HWND window = form_->Handle();

    wchar_t text[64] = {};
    GetWindowTextW(window, text, 64);
    EXPECT_STREQ(text, L"날짜구조체 저장");
    GetClassNameW(window, text, 64);
    EXPECT_STREQ(text, L"TForm2");

    ASSERT_EQ(form_->Dpi(), 96) << "the checks below are in pixels at 96 pixels per inch";
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 301);
    EXPECT_EQ(client.bottom, 49);

    LONG style = GetWindowLongW(window, GWL_STYLE);
    for (LONG bit : {WS_THICKFRAME, WS_SYSMENU, WS_MINIMIZEBOX, WS_MAXIMIZEBOX})
        EXPECT_EQ(style & bit, bit);

    RECT button = ChildRect(form_->btnAdd->Handle());
    EXPECT_EQ(button.left, 208);
    EXPECT_EQ(button.top, 8);
    EXPECT_EQ(button.right - button.left, 75);
    EXPECT_EQ(button.bottom - button.top, 25);
    GetWindowTextW(form_->btnAdd->Handle(), text, 64);
    EXPECT_STREQ(text, L"Add");
    LONG buttonStyle = GetWindowLongW(form_->btnAdd->Handle(), GWL_STYLE);
    EXPECT_EQ(buttonStyle & BS_TYPEMASK, BS_PUSHBUTTON) << "Add must not be the default button";
    EXPECT_NE(GetDlgCtrlID(form_->btnAdd->Handle()), IDOK);
    EXPECT_NE(GetDlgCtrlID(form_->btnAdd->Handle()), IDCANCEL);

    RECT picker = ChildRect(form_->dtpDate->Handle());
    EXPECT_EQ(picker.left, 16);
    EXPECT_EQ(picker.top, 8);
    EXPECT_EQ(picker.right - picker.left, 186);
    EXPECT_EQ(picker.bottom - picker.top, 21);
    LONG pickerStyle = GetWindowLongW(form_->dtpDate->Handle(), GWL_STYLE);
    EXPECT_EQ(pickerStyle & (DTS_SHOWNONE | DTS_TIMEFORMAT | DTS_UPDOWN | DTS_LONGDATEFORMAT), 0);

    // Tab order is creation order: the button comes first.
    EXPECT_EQ(GetWindow(window, GW_CHILD), form_->btnAdd->Handle());

    HFONT font = reinterpret_cast<HFONT>(SendMessageW(form_->btnAdd->Handle(), WM_GETFONT, 0, 0));
    LOGFONTW logFont{};
    ASSERT_TRUE(GetObjectW(font, sizeof logFont, &logFont));
    EXPECT_STREQ(logFont.lfFaceName, L"Tahoma");
    EXPECT_EQ(logFont.lfHeight, -11);
}

TEST_F(MainWindowLayout, TheFieldStartsAtTheStoredDateAndTime)
{
    form_->dtpDate->SetDateTime(40939.40349291667); // other cases change it
    EXPECT_NEAR(form_->dtpDate->DateTime(), 40939.40349291667, 1.0 / 86'400'000);
    SYSTEMTIME shown{};
    ASSERT_EQ(SendMessageW(form_->dtpDate->Handle(), DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&shown)),
              GDT_VALID);
    EXPECT_EQ(shown.wYear, 2012);
    EXPECT_EQ(shown.wMonth, 1);
    EXPECT_EQ(shown.wDay, 31);
}

TEST_F(MainWindowLayout, ADateChangeReportedByTheFieldReachesTheValueAndKeepsTheTime)
{
    form_->dtpDate->SetDateTime(40939.40349291667);
    NMDATETIMECHANGE change{};
    change.nmhdr.hwndFrom = form_->dtpDate->Handle();
    change.nmhdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(form_->dtpDate->Handle()));
    change.nmhdr.code = DTN_DATETIMECHANGE;
    change.dwFlags = GDT_VALID;
    change.st.wYear = 1850;
    change.st.wMonth = 5;
    change.st.wDay = 17;
    SendMessageW(form_->Handle(), WM_NOTIFY, change.nmhdr.idFrom, reinterpret_cast<LPARAM>(&change));
    TDecodedDate date = DecodeDate(form_->dtpDate->DateTime());
    EXPECT_EQ(date.Year, 1850);
    EXPECT_EQ(date.Month, 5);
    EXPECT_EQ(date.Day, 17);
    SYSTEMTIME time = DateTimeToSystemTime(form_->dtpDate->DateTime());
    EXPECT_EQ(time.wHour, 9);
    EXPECT_EQ(time.wMinute, 41);
    EXPECT_EQ(time.wMilliseconds, 788);
}

// A form that publishes one button and one handler, fed layouts that are wrong in one way each.
class TProbeForm : public TForm
{
public:
    TButton* btnAdd = nullptr;
    explicit TProbeForm(const std::wstring& layout)
    {
        TFormBinding published;
        published.Field(L"btnAdd", btnAdd);
        published.Handler(L"btnAddClick", [](TObject*) {});
        ApplyLayout(layout, published);
    }
};

std::wstring ProbeLayout(const std::wstring& formLines, const std::wstring& buttonLines,
                         const std::wstring& extra = L"")
{
    return L"Form9: TProbeForm {\n" + formLines + L"    btnAdd: TButton {\n" + buttonLines + L"    }\n" + extra +
           L"}\n";
}

TEST(FormLayoutErrors, ALayoutNamingSomethingUnknownFailsNamingIt)
{
    Application->Initialize();
    const std::pair<std::wstring, const wchar_t*> cases[] = {
        {ProbeLayout(L"    Colour = clBtnFace\n", L""), L"the form has no property \"Colour\""},
        {ProbeLayout(L"", L"        Colour = clRed\n"), L"TButton \"btnAdd\" has no property \"Colour\""},
        {ProbeLayout(L"", L"        OnClick = btnMissingClick\n"), L"the form has no handler \"btnMissingClick\""},
        {ProbeLayout(L"", L"", L"    lstDates: TListBox {\n    }\n"), L"unknown control class \"TListBox\""},
        {ProbeLayout(L"", L"", L"    btnOther: TButton {\n    }\n"), L"has no control \"btnOther\""},
        {ProbeLayout(L"", L"", L"    btnAdd: TButton {\n    }\n"), L"\"btnAdd\" appears twice"},
        {L"Form9: TProbeForm {\n    btnAdd: TDateTimePicker {\n    }\n}\n", L"\"btnAdd\" of the form is not a TDateTimePicker"},
        {L"Form9: TProbeForm {\n}\n", L"The window layout has no control \"btnAdd\""},
        {ProbeLayout(L"    Color = clPurple\n", L""), L"unknown colour \"clPurple\""},
    };
    for (const auto& [layout, expected] : cases) {
        try {
            TProbeForm form(layout);
            ADD_FAILURE() << "accepted:\n" << WideToUtf8(layout);
        } catch (const ELayoutError& e) {
            EXPECT_NE(e.Message().find(expected), std::wstring::npos)
                << WideToUtf8(e.Message()) << "\nfor\n" << WideToUtf8(layout);
        }
    }
    TProbeForm good(ProbeLayout(L"    Caption = \"ok\"\n", L"        OnClick = btnAddClick\n"));
    EXPECT_NE(good.btnAdd, nullptr);
}

} // namespace
