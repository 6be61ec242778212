#include "Form.h"

#include "Application.h"
#include "Button.h"
#include "DateTimePicker.h"
#include "Exceptions.h"
#include "RunTime.h"

#include <commctrl.h>

#include <algorithm>
#include <set>

namespace {

constexpr int FirstControlId = 100; // clear of IDOK and IDCANCEL, which the dialog manager sends

std::unique_ptr<TControl> CreateControl(const TLayoutObject& object)
{
    if (object.ClassName == L"TButton")
        return std::make_unique<TButton>(object.Name);
    if (object.ClassName == L"TDateTimePicker")
        return std::make_unique<TDateTimePicker>(object.Name);
    RaiseLayoutError(object.Line, L"unknown control class \"" + object.ClassName + L"\"");
}

int SystemColor(const TLayoutProperty& property)
{
    static const std::pair<const wchar_t*, int> colors[] = {
        {L"clBtnFace", COLOR_BTNFACE},   {L"clBtnText", COLOR_BTNTEXT}, {L"clWindow", COLOR_WINDOW},
        {L"clWindowText", COLOR_WINDOWTEXT}, {L"clHighlight", COLOR_HIGHLIGHT},
    };
    const std::wstring& name = LayoutIdentifier(property);
    for (const auto& [colorName, index] : colors)
        if (name == colorName)
            return index;
    RaiseLayoutError(property.Line, L"unknown colour \"" + name + L"\"");
}

BYTE Charset(const TLayoutProperty& property)
{
    const std::wstring& name = LayoutIdentifier(property);
    if (name == L"DEFAULT_CHARSET")
        return DEFAULT_CHARSET;
    if (name == L"ANSI_CHARSET")
        return ANSI_CHARSET;
    if (name == L"HANGUL_CHARSET")
        return HANGUL_CHARSET;
    RaiseLayoutError(property.Line, L"unknown character set \"" + name + L"\"");
}

// Windows 10 has per-window DPI; earlier systems have one DPI for the screen.
int WindowDpi(HWND window)
{
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr)
        if (UINT dpi = getDpiForWindow(window))
            return static_cast<int>(dpi);
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

void AdjustForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi)
{
    using TAdjust = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static auto adjustForDpi = reinterpret_cast<TAdjust>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    if (adjustForDpi == nullptr || !adjustForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

} // namespace

TForm::~TForm()
{
    if (handle_ != nullptr)
        DestroyWindow(handle_);
}

void TForm::Show(int showCommand)
{
    ShowWindow(handle_, showCommand);
    UpdateWindow(handle_);
}

TControl* TForm::FindControl(HWND handle) const noexcept
{
    for (const auto& control : controls_)
        if (control->Handle() == handle && handle != nullptr)
            return control.get();
    return nullptr;
}

void TForm::LoadLayout(const wchar_t* resourceName, const TFormBinding& published)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(module, resourceName, MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const char* data = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (data == nullptr)
        throw ELayoutError(L"The window layout \"" + std::wstring(resourceName) + L"\" is missing from the program.");
    std::string_view text(data, SizeofResource(module, resource));
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    ApplyLayout(Utf8ToWide(text), published);
}

void TForm::ApplyLayout(const std::wstring& layoutText, const TFormBinding& published)
{
    TLayoutObject root = ParseLayout(layoutText);
    name_ = root.Name;
    className_ = root.ClassName;
    for (const TLayoutProperty& property : root.Properties)
        SetFormProperty(property);

    std::set<std::wstring, std::less<>> bound;
    for (const TLayoutObject& child : root.Children) {
        std::unique_ptr<TControl> control = CreateControl(child);
        if (!child.Children.empty())
            RaiseLayoutError(child.Children.front().Line, L"\"" + child.Name + L"\" cannot hold controls");
        for (const TLayoutProperty& property : child.Properties)
            control->SetProperty(property, published.handlers_);
        auto field = published.fields_.find(child.Name);
        if (field == published.fields_.end())
            RaiseLayoutError(child.Line, L"the form " + className_ + L" has no control \"" + child.Name + L"\"");
        if (!bound.insert(child.Name).second)
            RaiseLayoutError(child.Line, L"\"" + child.Name + L"\" appears twice");
        if (!field->second(control.get()))
            RaiseLayoutError(child.Line, L"\"" + child.Name + L"\" of the form is not a " + child.ClassName);
        controls_.push_back(std::move(control));
    }
    for (const auto& [fieldName, bind] : published.fields_)
        if (!bound.contains(fieldName))
            throw ELayoutError(L"The window layout has no control \"" + fieldName + L"\".");

    // The dialog manager tabs in creation order.
    std::stable_sort(controls_.begin(), controls_.end(),
                     [](const auto& a, const auto& b) { return a->TabOrder() < b->TabOrder(); });
    CreateWindowAndControls();
}

void TForm::SetFormProperty(const TLayoutProperty& property)
{
    const std::wstring& name = property.Name;
    auto integer = [&property] { return static_cast<int>(LayoutInteger(property)); };
    if (name == L"Caption")
        caption_ = LayoutString(property);
    else if (name == L"Left")
        designLeft_ = integer();
    else if (name == L"Top")
        designTop_ = integer();
    else if (name == L"ClientWidth")
        clientWidth_ = integer();
    else if (name == L"ClientHeight")
        clientHeight_ = integer();
    else if (name == L"Color")
        color_ = SystemColor(property);
    else if (name == L"Font.Color")
        fontColor_ = SystemColor(property);
    else if (name == L"Font.Height")
        fontHeight_ = integer();
    else if (name == L"Font.Name")
        fontName_ = LayoutString(property);
    else if (name == L"Font.Charset")
        fontCharset_ = Charset(property);
    else if (name == L"Font.Style") {
        if (LayoutIdentifier(property) != L"Regular")
            RaiseLayoutError(property.Line, L"only the Regular font style is supported");
    } else if (name == L"PixelsPerInch") {
        designDpi_ = integer();
        if (designDpi_ <= 0)
            RaiseLayoutError(property.Line, L"PixelsPerInch must be positive");
    } else if (name == L"TextHeight")
        textHeight_ = integer();
    else if (name == L"OldCreateOrder")
        oldCreateOrder_ = LayoutBoolean(property);
    else
        RaiseLayoutError(property.Line, L"the form has no property \"" + name + L"\"");
}

void TForm::CreateWindowAndControls()
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    if (!GetClassInfoExW(instance, className_.c_str(), &windowClass)) {
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = instance;
        windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = className_.c_str();
        if (RegisterClassExW(&windowClass) == 0)
            throw Exception(L"Cannot register the window class " + className_ + L". " +
                            SysErrorMessage(GetLastError()));
    }

    TWindowPlacement placement = Application->PlacementForNewForm();
    handle_ = CreateWindowExW(WS_EX_CONTROLPARENT | placement.ExStyle, className_.c_str(), caption_.c_str(),
                              WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                              clientWidth_, clientHeight_, placement.Owner, nullptr, instance, this);
    if (handle_ == nullptr)
        throw Exception(L"Cannot create the window " + name_ + L". " + SysErrorMessage(GetLastError()));

    dpi_ = WindowDpi(handle_);
    for (size_t i = 0; i < controls_.size(); ++i)
        controls_[i]->CreateHandle(handle_, FirstControlId + static_cast<int>(i), dpi_, designDpi_);
    ApplyDpi(dpi_, nullptr);
}

void TForm::ApplyDpi(int dpi, const RECT* suggested)
{
    dpi_ = dpi;
    TGdiObject<HFONT> font(CreateFontW(MulDiv(fontHeight_, dpi, designDpi_), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                       fontCharset_, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                       DEFAULT_PITCH | FF_DONTCARE, fontName_.c_str()));
    for (const auto& control : controls_) {
        SendMessageW(control->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
        control->ApplyScale(dpi, designDpi_);
    }
    font_ = std::move(font); // the old font goes only after no control uses it

    if (suggested != nullptr) {
        SetWindowPos(handle_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    RECT frame{0, 0, MulDiv(clientWidth_, dpi, designDpi_), MulDiv(clientHeight_, dpi, designDpi_)};
    AdjustForDpi(frame, static_cast<DWORD>(GetWindowLongW(handle_, GWL_STYLE)),
                 static_cast<DWORD>(GetWindowLongW(handle_, GWL_EXSTYLE)), dpi);
    SetWindowPos(handle_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::RestoreFocus()
{
    if (activeControl_ == nullptr && !controls_.empty())
        activeControl_ = controls_.front().get();
    if (activeControl_ != nullptr)
        SetFocus(activeControl_->Handle());
}

LRESULT CALLBACK TForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    if (message == WM_NCCREATE) {
        auto* form = static_cast<TForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->handle_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        form->handle_ = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    // Nothing may unwind through the system's frames: park the error for the message loop.
    try {
        TApplication::THandlerScope running;
        return form->HandleMessage(message, wParam, lParam);
    } catch (...) {
        Application->ParkException(std::current_exception());
        return 0;
    }
}

LRESULT TForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (lParam != 0) {
            if (TControl* control = FindControl(reinterpret_cast<HWND>(lParam)))
                control->Command(HIWORD(wParam));
        } else if (LOWORD(wParam) == IDOK) {
            // Enter: only a focused button takes it; the form has no default button.
            if (TControl* focused = FindControl(GetFocus()); focused != nullptr && focused->PressedByEnter())
                focused->Press();
        }
        return 0; // IDCANCEL (Esc) does nothing: the form has no cancel button
    case WM_NOTIFY: {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (TControl* control = FindControl(header.hwndFrom)) {
            if (header.code == NM_SETFOCUS)
                activeControl_ = control;
            control->Notify(header);
        }
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (TControl* focused = FindControl(GetFocus()))
                activeControl_ = focused;
        } else {
            RestoreFocus();
        }
        return 0;
    case WM_SETFOCUS:
        RestoreFocus();
        return 0;
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(handle_, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(color_));
        return 1;
    }
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, GetSysColor(fontColor_));
        SetBkColor(dc, GetSysColor(color_));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(color_));
    }
    case 0x02E0: // WM_DPICHANGED, Windows 8.1 and later
        ApplyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        Application->FormDestroyed(this);
        return 0;
    default:
        return DefWindowProcW(handle_, message, wParam, lParam);
    }
}
