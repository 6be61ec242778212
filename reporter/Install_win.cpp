// Puts the error reporter in place before the program's entry runs. This object is linked into the
// exe as an object file, so the linker cannot drop it although nothing refers to it.

#include "Application.h"
#include "Capture_win.h"
#include "Reporter_win.h"
#include "Restart_win.h"

namespace {

struct TInstallReporter
{
    TInstallReporter() noexcept
    {
        RecordStartup();
        Application->OnException = ReportException;
        InstallCapture(ReportFatalException);
    }
};

const TInstallReporter Installed;

} // namespace
