#pragma once
#include "Report.h"
#include <exception>
void InstallCapture(void (*reportFatal)(const std::exception_ptr& error)) noexcept;
TReport CollectReport(const std::exception_ptr& error) noexcept;
