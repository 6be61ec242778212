#include "ErrorDialog_win.h"

#include "Handle.h"
#include "RunTime.h"

#include <commctrl.h>

#include <vector>

namespace {

namespace Id = ErrorDialogId;

// An in-memory dialog template: a header, then items, each aligned on a DWORD.
class TDialogTemplate
{
public:
    TDialogTemplate(const std::wstring& title, DWORD style, short width, short height)
    {
        Dword(style | DS_SETFONT);
        Dword(0);
        countAt_ = words_.size();
        Word(0);
        Word(0), Word(0), Word(static_cast<WORD>(width)), Word(static_cast<WORD>(height));
        Word(0); // no menu
        Word(0); // the dialog class
        String(title);
        Word(8);
        String(L"Tahoma");
    }

    void Add(const wchar_t* className, const std::wstring& text, int id, DWORD style, short x, short y,
             short width, short height)
    {
        while (words_.size() % 2 != 0)
            Word(0);
        Dword(style | WS_CHILD);
        Dword(0);
        Word(static_cast<WORD>(x)), Word(static_cast<WORD>(y));
        Word(static_cast<WORD>(width)), Word(static_cast<WORD>(height));
        Word(static_cast<WORD>(id));
        String(className);
        String(text);
        Word(0); // no creation data
        ++words_[countAt_];
    }

    const DLGTEMPLATE* Get() const noexcept { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Word(WORD value) { words_.push_back(value); }
    void Dword(DWORD value)
    {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    void String(const std::wstring& text)
    {
        words_.insert(words_.end(), text.begin(), text.end());
        Word(0);
    }

    std::vector<WORD> words_;
    size_t countAt_ = 0;
};

struct TDialogState
{
    const std::wstring* Message;
    const TReport* Report;
    bool OfferRestart;
    bool Restart = false; // the box was ticked when the button closed the dialog
    TGdiObject<HFONT> HeadingFont;
    TGdiObject<HFONT> FixedFont;
};

constexpr int HeaderHeight = 40; // dialog units: the white band behind the heading
constexpr int CloseResult = IDOK;
constexpr int RestartResult = Id::RestartButton;

std::wstring ProgramTitle()
{
    std::wstring name = ExeFileName();
    name.erase(0, ExtractFilePath(name).size());
    if (size_t dot = name.rfind(L'.'); dot != std::wstring::npos)
        name.erase(dot);
    return name.empty() ? L"The program" : name;
}

TDialogState* StateOf(HWND dialog)
{
    return reinterpret_cast<TDialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

HFONT DerivedFont(HWND dialog, int weight, double scale, const wchar_t* face)
{
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
    font.lfWeight = weight;
    font.lfHeight = static_cast<LONG>(font.lfHeight * scale);
    if (face != nullptr) {
        wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
        font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    }
    return CreateFontIndirectW(&font);
}

void ShowSection(HWND dialog)
{
    const TDialogState& state = *StateOf(dialog);
    int selected = static_cast<int>(SendDlgItemMessageW(dialog, Id::Tabs, TCM_GETCURSEL, 0, 0));
    if (selected < 0 || static_cast<size_t>(selected) >= state.Report->Sections.size())
        return;
    SetDlgItemTextW(dialog, Id::SectionText, TextForEditControl(state.Report->Sections[selected].Body).c_str());
}

void InitDetails(HWND dialog, TDialogState& state)
{
    HWND tabs = GetDlgItem(dialog, Id::Tabs);
    for (size_t i = 0; i < state.Report->Sections.size(); ++i) {
        std::wstring title = Utf8ToWide(state.Report->Sections[i].Title);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = title.data();
        SendMessageW(tabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    // The text sits in the tab control's display area.
    RECT area;
    GetWindowRect(tabs, &area);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&area), 2);
    SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    HWND text = GetDlgItem(dialog, Id::SectionText);
    SetWindowPos(text, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top, 0);
    state.FixedFont.Reset(DerivedFont(dialog, FW_NORMAL, 1.0, L"Courier New"));
    SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(state.FixedFont.Get()), FALSE);
    SendMessageW(text, EM_SETLIMITTEXT, 0, 0);
    ShowWindow(GetDlgItem(dialog, Id::RestartButton), state.OfferRestart ? SW_SHOW : SW_HIDE);
    SendMessageW(tabs, TCM_SETCURSEL, 0, 0);
    ShowSection(dialog);
    SetFocus(tabs);
}

INT_PTR CALLBACK DetailsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    try {
        switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            InitDetails(dialog, *reinterpret_cast<TDialogState*>(lParam));
            return FALSE; // the focus is set
        case WM_NOTIFY: {
            const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
            if (header.idFrom == static_cast<UINT_PTR>(Id::Tabs) && header.code == TCN_SELCHANGE)
                ShowSection(dialog);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
            case IDOK:
            case IDCANCEL:
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            case Id::RestartButton:
                if (StateOf(dialog)->OfferRestart)
                    EndDialog(dialog, RestartResult);
                return TRUE;
            }
            return FALSE;
        case WM_DESTROY:
            StateOf(dialog)->FixedFont.Reset();
            return FALSE;
        }
    } catch (...) {
        // Nothing may unwind through the dialog manager; a missing tab text is the worst case.
    }
    return FALSE;
}

INT_PTR ShowDetails(HWND owner, TDialogState& state)
{
    const short width = 380, height = 260;
    TDialogTemplate details(L"Error report", DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                            width, height);
    details.Add(WC_TABCONTROLW, L"", Id::Tabs, WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS, 7, 7, width - 14,
                height - 32);
    details.Add(L"Edit", L"", Id::SectionText,
                WS_VISIBLE | WS_TABSTOP | WS_BORDER | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                    ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                12, 24, width - 24, height - 54);
    details.Add(L"Button", L"&Restart", Id::RestartButton, WS_TABSTOP | BS_PUSHBUTTON, width - 130, height - 21,
                60, 14);
    details.Add(L"Button", L"Close", IDOK, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, width - 67, height - 21, 60,
                14);
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), details.Get(), owner, DetailsProc,
                                   reinterpret_cast<LPARAM>(&state));
}

void InitErrorDialog(HWND dialog, TDialogState& state)
{
    SendDlgItemMessageW(dialog, Id::Icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_ERROR)),
                        0);
    state.HeadingFont.Reset(DerivedFont(dialog, FW_BOLD, 1.15, nullptr));
    SendDlgItemMessageW(dialog, Id::Heading, WM_SETFONT, reinterpret_cast<WPARAM>(state.HeadingFont.Get()), FALSE);
    SetDlgItemTextW(dialog, Id::Message, TextForEditControl(WideToUtf8(*state.Message)).c_str());
    ShowWindow(GetDlgItem(dialog, Id::RestartBox), state.OfferRestart ? SW_SHOW : SW_HIDE);
    CheckDlgButton(dialog, Id::RestartBox, BST_UNCHECKED);
    SetFocus(GetDlgItem(dialog, IDOK));
    MessageBeep(MB_ICONHAND);
}

void PaintHeader(HWND dialog)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    RECT client;
    GetClientRect(dialog, &client);
    RECT band{0, 0, 1, HeaderHeight};
    MapDialogRect(dialog, &band);
    band.right = client.right;
    FillRect(dc, &band, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawEdge(dc, &band, EDGE_ETCHED, BF_BOTTOM);
    EndPaint(dialog, &paint);
}

void OpenDetails(HWND dialog)
{
    if (ShowDetails(dialog, *StateOf(dialog)) == RestartResult)
        EndDialog(dialog, RestartResult);
}

INT_PTR CALLBACK ErrorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    try {
        switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            InitErrorDialog(dialog, *reinterpret_cast<TDialogState*>(lParam));
            return FALSE;
        case WM_PAINT:
            PaintHeader(dialog);
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            if (id != Id::Heading && id != Id::Explanation && id != Id::Icon)
                return FALSE;
            SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
            return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
        }
        case WM_NOTIFY: {
            const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
            if (header.idFrom == static_cast<UINT_PTR>(Id::DetailsLink) &&
                (header.code == NM_CLICK || header.code == NM_RETURN))
                OpenDetails(dialog);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
            case IDOK:
                StateOf(dialog)->Restart = IsDlgButtonChecked(dialog, Id::RestartBox) == BST_CHECKED;
                EndDialog(dialog, CloseResult);
                return TRUE;
            case IDCANCEL: // Esc or the close box: the check box is not acted on
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            case Id::DetailsLink: // the plain-button form of the link
                if (HIWORD(wParam) == BN_CLICKED)
                    OpenDetails(dialog);
                return TRUE;
            }
            return FALSE;
        case WM_DESTROY:
            StateOf(dialog)->HeadingFont.Reset();
            return FALSE;
        }
    } catch (...) {
        // Nothing may unwind through the dialog manager.
    }
    return FALSE;
}

INT_PTR RunErrorDialog(HWND owner, TDialogState& state, bool withSysLink)
{
    const short width = 260, height = 146;
    const std::wstring title = ProgramTitle();
    TDialogTemplate dialog(title, DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, width, height);
    dialog.Add(L"Static", L"", Id::Icon, WS_VISIBLE | SS_ICON, 8, 9, 21, 20);
    dialog.Add(L"Static", title + L" has run into a problem", Id::Heading, WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 36, 8,
               width - 44, 11);
    dialog.Add(L"Static",
               L"The program keeps running. A report of this error goes to the program's error log when "
               L"you close this window.",
               Id::Explanation, WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 36, 20, width - 44, 17);
    dialog.Add(L"Edit", L"", Id::Message,
               WS_VISIBLE | WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 7,
               HeaderHeight + 7, width - 14, 44);
    if (withSysLink)
        dialog.Add(WC_LINK, L"<a>Show what this error report contains</a>", Id::DetailsLink,
                   WS_VISIBLE | WS_TABSTOP, 7, HeaderHeight + 57, width - 14, 10);
    else
        dialog.Add(L"Button", L"Show what this error report contains", Id::DetailsLink,
                   WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_FLAT | BS_LEFT, 7, HeaderHeight + 55, width - 14,
                   13);
    dialog.Add(L"Button", L"Restart the application", Id::RestartBox, WS_TABSTOP | BS_AUTOCHECKBOX, 7,
               HeaderHeight + 72, width - 14, 10);
    dialog.Add(L"Button", L"Close", IDOK, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, width - 67, height - 21, 60,
               14);
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, ErrorDialogProc,
                                   reinterpret_cast<LPARAM>(&state));
}

} // namespace

std::wstring TextForEditControl(const std::string& utf8)
{
    std::wstring wide = Utf8ToWide(utf8);
    std::wstring text;
    text.reserve(wide.size() + wide.size() / 16);
    for (size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] == L'\r' && i + 1 < wide.size() && wide[i + 1] == L'\n')
            continue; // the LF that follows writes the pair
        if (wide[i] == L'\n' || wide[i] == L'\r')
            text += L"\r\n";
        else
            text += wide[i];
    }
    return text;
}

TDialogOutcome ShowErrorDialog(HWND owner, const std::wstring& message, const TReport& report,
                               bool offerRestart) noexcept
{
    TDialogOutcome outcome;
    try {
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LINK_CLASS | ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
        bool haveSysLink = InitCommonControlsEx(&classes) != FALSE;
        TDialogState state{&message, &report, offerRestart, false, {}, {}};
        INT_PTR result = RunErrorDialog(owner, state, haveSysLink);
        if (result <= 0 && haveSysLink) // no link control in this system's common controls
            result = RunErrorDialog(owner, state, false);
        outcome.Shown = result > 0;
        outcome.Restart = (result == CloseResult && offerRestart && state.Restart) || result == RestartResult;
    } catch (...) {
        outcome.Shown = false;
    }
    return outcome;
}
