#pragma once
// Switches to a named input method while a control has the focus, and back to the
// system's default keyboard layout when it loses it.

#include <windows.h>

#include <string>

// The installed keyboard layout whose input method is described by `name`, or null.
HKL FindInputMethod(const std::wstring& name);

class TInputMethodSwitch
{
public:
    // Turns the named input method on if it is installed and is not the default already.
    void Enter(const std::wstring& imeName);
    // Brings the default layout back if Enter switched away from it.
    void Leave();

private:
    bool switched_ = false;
};
