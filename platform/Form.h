#pragma once
// A top-level window made from a stored layout. The layout names the form's controls
// and handlers; the form binds them to the fields and handlers it publishes by name.

#include "Control.h"
#include "Handle.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// What a form publishes to its layout: control fields and event handlers, by name.
class TFormBinding
{
public:
    template <class TControlClass>
    void Field(const std::wstring& name, TControlClass*& field)
    {
        fields_[name] = [&field](TControl* control) {
            field = dynamic_cast<TControlClass*>(control);
            return field != nullptr;
        };
    }
    void Handler(const std::wstring& name, TNotifyEvent handler) { handlers_[name] = std::move(handler); }
    // A method of the form; called through its pointer, so it keeps a frame of its own in call stacks.
    template <class TFormClass>
    void Handler(const std::wstring& name, TFormClass* form, void (TFormClass::*method)(TObject*))
    {
        handlers_[name] = [form, method](TObject* sender) { (form->*method)(sender); };
    }

private:
    friend class TForm;
    std::map<std::wstring, std::function<bool(TControl*)>, std::less<>> fields_;
    THandlerTable handlers_;
};

class TForm : public TObject
{
public:
    TForm() = default;
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;
    ~TForm() override;

    HWND Handle() const noexcept { return handle_; }
    void Show(int showCommand);
    // The child that has, or last had, the keyboard focus.
    TControl* ActiveControl() const noexcept { return activeControl_; }
    TControl* FindControl(HWND handle) const noexcept;
    // Scaling factor's numerator: the window's pixels per inch (96 at 100 %).
    int Dpi() const noexcept { return dpi_; }

protected:
    // Loads the RCDATA layout resource of that name, binds it and creates the window.
    void LoadLayout(const wchar_t* resourceName, const TFormBinding& published);
    // Same, from a layout text (for layouts that are not resources).
    void ApplyLayout(const std::wstring& layoutText, const TFormBinding& published);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void SetFormProperty(const TLayoutProperty& property);
    void CreateWindowAndControls();
    void ApplyDpi(int dpi, const RECT* suggested);
    // At activation: back to the control that had the focus, else the first in tab order.
    void RestoreFocus();

    HWND handle_ = nullptr;
    std::wstring name_;
    std::wstring className_;
    std::wstring caption_;
    int designLeft_ = 0, designTop_ = 0; // stored; the system places the window
    int clientWidth_ = 0, clientHeight_ = 0;
    int color_ = COLOR_BTNFACE;
    int fontColor_ = COLOR_WINDOWTEXT;
    int fontHeight_ = -11;
    BYTE fontCharset_ = DEFAULT_CHARSET;
    std::wstring fontName_ = L"Tahoma";
    int designDpi_ = 96;
    int textHeight_ = 13;
    bool oldCreateOrder_ = false;
    int dpi_ = 96;
    TGdiObject<HFONT> font_;
    std::vector<std::unique_ptr<TControl>> controls_; // in tab order
    TControl* activeControl_ = nullptr;
};
