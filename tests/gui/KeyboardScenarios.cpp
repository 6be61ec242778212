// Add from the keyboard alone: Enter and Space on the button, Tab between the two controls,
// and keys that must do nothing.
#include "Driver.h"

namespace {

using namespace gui;

const Bytes Jan31 = Record(2012, 1, 31);

void KeysOnTheButtonAndTheField(const Context& context)
{
    ScratchCopy copy(context);
    Recorder app(copy);
    const std::wstring file = copy.RecordFile();
    app.WaitForFocus(app.Button(), L"the Add button at start");

    PressKey(VK_RETURN);
    ExpectFileBytes(file, {0xDC, 0x07, 0x01, 0x00, 0x1F, 0x00}, L"after Enter on Add");
    PressKey(VK_SPACE);
    ExpectFileBytes(file, Join({Jan31, Jan31}), L"after Space on Add");

    // Esc has no meaning for this window: it neither closes it nor adds.
    PressKey(VK_ESCAPE);
    PressKey(VK_TAB);
    app.WaitForFocus(app.Picker(), L"the date field after Tab");
    Check(app.Running() && IsWindowVisible(app.Main()), L"Esc closed the window");

    // Enter in the field must not press Add; Space here only proves the keys were handled.
    PressKey(VK_RETURN);
    PressKey(VK_RETURN);
    PressKey(VK_TAB);
    app.WaitForFocus(app.Button(), L"the Add button after a second Tab");
    PressKey(VK_SPACE);
    ExpectFileBytes(file, Join({Jan31, Jan31, Jan31}), L"after Enter twice in the field, Tab and Space");

    Check(app.Focus() == app.Button(), L"an Add moved the focus off the button");
    Check(WindowText(app.Picker()) == ShortDate(2012, 1, 31), L"an Add changed the date field");

    app.CloseAndExpectCleanExit();
    Check(FolderEntries(copy.WorkFolder()).empty(), L"the program wrote into its working directory");
}

// Only a plain Enter presses the button: with Shift or Ctrl held it does nothing, both when the
// focus came to the button at start and when Tab brought it there.
void ModifiedEnterDoesNotAdd(const Context& context)
{
    ScratchCopy copy(context);
    Recorder app(copy);
    const std::wstring file = copy.RecordFile();
    app.WaitForFocus(app.Button(), L"the Add button at start");

    const struct {
        const wchar_t* how;
        bool tabToTheButton;
    } ways[] = {{L"focus from start-up", false}, {L"focus from Tab", true}};
    std::vector<Bytes> expected;
    for (const auto& way : ways) {
        if (way.tabToTheButton) {
            PressKey(VK_TAB);
            app.WaitForFocus(app.Picker(), L"the date field");
            PressKey(VK_TAB);
            app.WaitForFocus(app.Button(), L"the Add button");
        }
        Log(L"%ls: the button %ls the default style", way.how,
            (GetWindowLongW(app.Button(), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON ? L"has" : L"has not");
        PressChord({VK_CONTROL, VK_RETURN});
        PressChord({VK_SHIFT, VK_RETURN});
        PressKey(VK_SPACE);
        expected.push_back(Jan31);
        ExpectFileBytes(file, Join(expected), std::wstring(way.how) + L": after Ctrl+Enter, Shift+Enter and Space");
    }
    app.CloseAndExpectCleanExit();
}

void ManyPressesAppendInOrder(const Context& context)
{
    ScratchCopy copy(context);
    Recorder app(copy);
    app.WaitForFocus(app.Button(), L"the Add button at start");

    // Each press appends to what is there, so n presses are 6n bytes: nothing is rewritten.
    const int presses = 12;
    std::vector<Bytes> expected;
    for (int i = 0; i < presses; ++i) {
        PressKey(i % 2 == 0 ? VK_RETURN : VK_SPACE);
        expected.push_back(Jan31);
        ExpectFileBytes(copy.RecordFile(), Join(expected), L"after press " + std::to_wstring(i + 1));
    }
    // The same, sent as fast as the keyboard allows, without waiting in between.
    for (int i = 0; i < presses; ++i) {
        PressKey(VK_SPACE);
        expected.push_back(Jan31);
    }
    ExpectFileBytes(copy.RecordFile(), Join(expected), L"after a burst of presses");
    app.CloseAndExpectCleanExit();
}

GUI_SCENARIO(L"keyboard", KeysOnTheButtonAndTheField);
GUI_SCENARIO(L"modified-enter", ModifiedEnterDoesNotAdd);
GUI_SCENARIO(L"repeated-adds", ManyPressesAppendInOrder);

} // namespace
