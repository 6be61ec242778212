#include "InputMethod.h"

#include <imm.h>

#include <vector>

namespace {

HKL DefaultLayout()
{
    HKL layout = nullptr;
    if (!SystemParametersInfoW(SPI_GETDEFAULTINPUTLANG, 0, &layout, 0))
        return nullptr;
    return layout;
}

std::wstring Description(HKL layout)
{
    wchar_t text[256] = {};
    UINT length = ImmGetDescriptionW(layout, text, static_cast<UINT>(std::size(text)));
    return std::wstring(text, length);
}

} // namespace

HKL FindInputMethod(const std::wstring& name)
{
    if (name.empty())
        return nullptr;
    int count = GetKeyboardLayoutList(0, nullptr);
    std::vector<HKL> layouts(static_cast<size_t>(count > 0 ? count : 0));
    count = GetKeyboardLayoutList(count, layouts.data());
    for (int i = 0; i < count; ++i)
        if (ImmIsIME(layouts[i]) && Description(layouts[i]) == name)
            return layouts[i];
    return nullptr;
}

void TInputMethodSwitch::Enter(const std::wstring& imeName)
{
    HKL wanted = FindInputMethod(imeName);
    HKL standard = DefaultLayout();
    if (wanted == nullptr || wanted == standard)
        return;
    switched_ = ActivateKeyboardLayout(wanted, 0) != nullptr;
}

void TInputMethodSwitch::Leave()
{
    if (!switched_)
        return;
    switched_ = false;
    if (HKL standard = DefaultLayout())
        ActivateKeyboardLayout(standard, 0);
}
