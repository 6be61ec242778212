#include "Control.h"

void TControl::SetProperty(const TLayoutProperty& property, const THandlerTable& handlers)
{
    const std::wstring& name = property.Name;
    if (name == L"Left")
        bounds_.Left = static_cast<int>(LayoutInteger(property));
    else if (name == L"Top")
        bounds_.Top = static_cast<int>(LayoutInteger(property));
    else if (name == L"Width")
        bounds_.Width = static_cast<int>(LayoutInteger(property));
    else if (name == L"Height")
        bounds_.Height = static_cast<int>(LayoutInteger(property));
    else if (name == L"TabOrder")
        tabOrder_ = static_cast<int>(LayoutInteger(property));
    else if (!SetOwnProperty(property, handlers))
        RaiseUnknownProperty(property);
}

void TControl::CreateHandle(HWND parent, int id, int dpi, int designDpi)
{
    handle_ = CreateWindowFor(parent, id, ScaleBounds(bounds_, dpi, designDpi));
    if (handle_ == nullptr)
        RaiseLayoutError(0, L"cannot create the window of \"" + name_ + L"\"");
}

void TControl::ApplyScale(int dpi, int designDpi)
{
    TBounds scaled = ScaleBounds(bounds_, dpi, designDpi);
    SetWindowPos(handle_, nullptr, scaled.Left, scaled.Top, scaled.Width, scaled.Height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void TControl::RaiseUnknownProperty(const TLayoutProperty& property) const
{
    RaiseLayoutError(property.Line, className_ + L" \"" + name_ + L"\" has no property \"" + property.Name + L"\"");
}

TNotifyEvent TControl::BindHandler(const TLayoutProperty& property, const THandlerTable& handlers)
{
    const std::wstring& handlerName = LayoutIdentifier(property);
    auto handler = handlers.find(handlerName);
    if (handler == handlers.end())
        RaiseLayoutError(property.Line, L"the form has no handler \"" + handlerName + L"\"");
    return handler->second;
}

TBounds ScaleBounds(const TBounds& bounds, int dpi, int designDpi)
{
    return {MulDiv(bounds.Left, dpi, designDpi), MulDiv(bounds.Top, dpi, designDpi),
            MulDiv(bounds.Width, dpi, designDpi), MulDiv(bounds.Height, dpi, designDpi)};
}
