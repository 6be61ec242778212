#pragma once
// The error dialog: a heading, the error's message, a link to the detailed report and one button
// that closes it; from the fourth error of a run also a restart check box. Built in code.

#include "Report.h"

#include <windows.h>

#include <string>

// What the user did in the dialog.
struct TDialogOutcome
{
    bool Shown = false;   // false: the dialog could not be shown at all
    bool Restart = false; // closed with the button while the box was ticked, or Restart in the details
};

// Control ids, for whoever has to find the controls from outside (tests, accessibility tools).
namespace ErrorDialogId {
inline constexpr int Heading = 1001;
inline constexpr int Explanation = 1002;
inline constexpr int Message = 1003;
inline constexpr int DetailsLink = 1004;
inline constexpr int RestartBox = 1005;
inline constexpr int Icon = 1006;
inline constexpr int Tabs = 2001;
inline constexpr int SectionText = 2002;
inline constexpr int RestartButton = 2003;
} // namespace ErrorDialogId

// Modal to `owner` (which stays painted but takes no input) with the system's error beep.
// The detailed view shows each section's body as the log gets it. Never throws.
TDialogOutcome ShowErrorDialog(HWND owner, const std::wstring& message, const TReport& report,
                               bool offerRestart) noexcept;

// Section text as an edit control shows it: UTF-8 to UTF-16, every line end as CR LF.
std::wstring TextForEditControl(const std::string& utf8);
