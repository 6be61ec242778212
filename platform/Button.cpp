#include "Button.h"

void TButton::Click()
{
    if (OnClick)
        OnClick(this);
}

void TButton::Command(WORD code)
{
    if (code == BN_CLICKED)
        Click();
}

bool TButton::SetOwnProperty(const TLayoutProperty& property, const THandlerTable& handlers)
{
    if (property.Name == L"Caption")
        caption_ = LayoutString(property);
    else if (property.Name == L"OnClick")
        OnClick = BindHandler(property, handlers);
    else
        return false;
    return true;
}

HWND TButton::CreateWindowFor(HWND parent, int id, const TBounds& bounds)
{
    return CreateWindowExW(0, L"Button", caption_.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                           bounds.Left, bounds.Top, bounds.Width, bounds.Height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}
