#pragma once
// What the error report says about where and in what state an error arose: the stack,
// registers and code bytes captured at the throw or fault, and the system's facts.

#include "Report.h"

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

// Installs what must run before the entry: the throw-site stack capture and the native fault handlers.
// `reportFatal` is called for a fault outside any event handler, before the process ends.
void InstallCapture(void (*reportFatal)(const std::exception_ptr& error)) noexcept;

// The whole report for an error being handled now; each section through CollectSection, so it never throws.
// The call stack is the one captured where `error` was thrown (or where the fault happened).
TReport CollectReport(const std::exception_ptr& error) noexcept;

// What was captured where one error was raised. Fixed size: a throw never allocates for it.
struct TThrowSite {
    static constexpr int MaxFrames = 64;
    static constexpr int MaxCode = 48;

    const void* Object = nullptr; // the thrown object: the key
    const std::type_info* Type = nullptr;
    std::uintptr_t Address = 0;   // the throw's return address or the faulting instruction
    int FrameCount = 0;
    std::uintptr_t Frames[MaxFrames] = {};
    bool FirstFrameExact = false; // Frames[0] is a faulting instruction, not a return address
    CONTEXT Context = {};
    std::uintptr_t CodeStart = 0;
    int CodeSize = 0;
    unsigned char Code[MaxCode] = {};
};

// The capture for the thrown object `object`, if it is still among the recent ones.
bool FindThrowSite(const void* object, TThrowSite& site) noexcept;

// The thrown object an exception_ptr refers to (the address the throw was keyed by).
const void* ThrownObject(const std::exception_ptr& error) noexcept;

// Copies up to `size` bytes at `address` that are committed and readable; returns the count
// copied from the start, so unreadable memory is never touched.
int CopyReadableBytes(std::uintptr_t address, unsigned char* out, int size) noexcept;

// The report's sections in order, each a title and what gathers its text; CollectReport is
// BuildReport over these. Apart so that a failing section can be put in their place.
struct TSectionSource {
    std::string Title;
    std::function<std::string()> Collect;
};
std::vector<TSectionSource> ReportSources(const std::exception_ptr& error);
TReport BuildReport(const std::exception_ptr& error, const std::vector<TSectionSource>& sources) noexcept;
