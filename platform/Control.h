#pragma once
// A child control on a form. The form owns the window; the control is a view over it
// that keeps the stored properties and turns the window's notifications into events.

#include "Layout.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>

class TObject
{
public:
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// The event handlers a form publishes, by name, for the layout to bind.
using THandlerTable = std::map<std::wstring, TNotifyEvent, std::less<>>;

struct TBounds
{
    int Left = 0, Top = 0, Width = 0, Height = 0;
};

class TControl : public TObject
{
public:
    TControl(std::wstring name, std::wstring className) : name_(std::move(name)), className_(std::move(className)) {}

    const std::wstring& Name() const noexcept { return name_; }
    const std::wstring& ClassName() const noexcept { return className_; }
    HWND Handle() const noexcept { return handle_; }
    int TabOrder() const noexcept { return tabOrder_; }
    const TBounds& DesignBounds() const noexcept { return bounds_; }

    // Takes one stored property; ELayoutError for a property this control does not have.
    void SetProperty(const TLayoutProperty& property, const THandlerTable& handlers);

    // Makes the window, scaled from the design's pixels per inch to the window's.
    void CreateHandle(HWND parent, int id, int dpi, int designDpi);
    void ApplyScale(int dpi, int designDpi);

    // The parent reflects WM_COMMAND and WM_NOTIFY here.
    virtual void Command(WORD /*code*/) {}
    virtual void Notify(const NMHDR& /*header*/) {}
    // Whether Enter pressed while this control has the focus presses it.
    virtual bool PressedByEnter() const { return false; }
    virtual void Press() {}

protected:
    virtual bool SetOwnProperty(const TLayoutProperty& property, const THandlerTable& handlers) = 0;
    virtual HWND CreateWindowFor(HWND parent, int id, const TBounds& bounds) = 0;

    [[noreturn]] void RaiseUnknownProperty(const TLayoutProperty& property) const;
    static TNotifyEvent BindHandler(const TLayoutProperty& property, const THandlerTable& handlers);

private:
    std::wstring name_;
    std::wstring className_;
    HWND handle_ = nullptr;
    TBounds bounds_;
    int tabOrder_ = 0;
};

TBounds ScaleBounds(const TBounds& bounds, int dpi, int designDpi);
