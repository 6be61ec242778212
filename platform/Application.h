#pragma once
// The application object: owns the forms, runs the message loop and is the one place
// where errors that escape an event handler are handled.

#include "Form.h"

#include <exception>
#include <memory>
#include <vector>

// The application-wide error handler. The default shows the message in a message box;
// an error reporter may put its own in place.
using TExceptionEvent = void (*)(const std::exception_ptr& error);

struct TWindowPlacement
{
    HWND Owner;
    DWORD ExStyle;
};

class TApplication
{
public:
    constexpr TApplication() = default;
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // When set, the main window carries its own taskbar button; otherwise a hidden
    // application window owns the forms and the taskbar shows that.
    bool MainFormOnTaskBar = false;
    TExceptionEvent OnException = nullptr;

    void Initialize();
    // Creates a form owned by the application; the first one becomes the main window.
    template <class TFormClass>
    void CreateForm(TFormClass*& reference);
    // Shows the main window and processes messages until it is closed.
    void Run();

    TForm* MainForm() const noexcept { return mainForm_; }
    void HandleException(const std::exception_ptr& error) noexcept;
    // The default handling: a message box over the main window.
    void ShowException(const std::exception_ptr& error) noexcept;

    // For forms: where a new window goes, and news of a destroyed one.
    TWindowPlacement PlacementForNewForm();
    void FormDestroyed(TForm* form) noexcept;
    // For window procedures: an error to hand on once the system's frames are left.
    void ParkException(std::exception_ptr error) noexcept;
    void HandleParkedException() noexcept;

    // Event handlers running now (nested dispatch counts each); an error reporter asks this
    // to tell a fault inside a handler, which can be recovered, from one outside.
    int RunningHandlers() const noexcept { return runningHandlers_; }
    class THandlerScope
    {
    public:
        THandlerScope() noexcept;
        ~THandlerScope();
        THandlerScope(const THandlerScope&) = delete;
        THandlerScope& operator=(const THandlerScope&) = delete;
    };

private:
    [[noreturn]] void StartupFailed(const std::exception_ptr& error) noexcept;

    std::vector<std::unique_ptr<TForm>> forms_;
    TForm* mainForm_ = nullptr;
    HWND applicationWindow_ = nullptr;
    bool creatingFirstForm_ = false;
    int runningHandlers_ = 0;
};

extern TApplication* const Application;

inline TApplication::THandlerScope::THandlerScope() noexcept { ++Application->runningHandlers_; }
inline TApplication::THandlerScope::~THandlerScope() { --Application->runningHandlers_; }

template <class TFormClass>
void TApplication::CreateForm(TFormClass*& reference)
{
    try {
        creatingFirstForm_ = forms_.empty();
        auto form = std::make_unique<TFormClass>();
        reference = form.get();
        if (mainForm_ == nullptr)
            mainForm_ = form.get();
        forms_.push_back(std::move(form));
        creatingFirstForm_ = false;
    } catch (...) {
        StartupFailed(std::current_exception());
    }
}
