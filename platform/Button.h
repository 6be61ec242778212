#pragma once
// A push button: neither default nor cancel; Space, Enter or a click presses it.

#include "Control.h"

class TButton : public TControl
{
public:
    explicit TButton(std::wstring name) : TControl(std::move(name), L"TButton") {}

    TNotifyEvent OnClick;
    void Click();

    void Command(WORD code) override;
    bool PressedByEnter() const override { return true; }
    void Press() override { Click(); }

protected:
    bool SetOwnProperty(const TLayoutProperty& property, const THandlerTable& handlers) override;
    HWND CreateWindowFor(HWND parent, int id, const TBounds& bounds) override;

private:
    std::wstring caption_;
};
