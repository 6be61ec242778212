#include "Report.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <typeinfo>

namespace {

std::string Demangled(const char* name)
{
    if (name == nullptr)
        return "an unknown type";
    int status = 0;
    char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string result = status == 0 && plain != nullptr ? plain : name;
    std::free(plain);
    return result;
}

// The type of the exception being handled right now, by its source name.
std::string CurrentExceptionType()
{
    const std::type_info* type = abi::__cxa_current_exception_type();
    return type != nullptr ? Demangled(type->name()) : "an unknown type";
}

void AppendLine(std::string& out, std::string_view line)
{
    out.append(line);
    out.append("\r\n");
}

} // namespace

TReportSection CollectSection(std::string title, const std::function<std::string()>& collect) noexcept
{
    TReportSection section;
    section.Title = std::move(title);
    try {
        try {
            if (!collect)
                throw std::bad_function_call();
            section.Body = collect();
            return section;
        } catch (const std::exception& e) {
            section.Collected = false;
            section.Body = "Could not be collected: " + CurrentExceptionType() + ": " + e.what();
        } catch (...) {
            section.Collected = false;
            section.Body = "Could not be collected: a value of type " + CurrentExceptionType() +
                           " was thrown.";
        }
    } catch (...) {
        // Out of memory while describing the failure: a short text needs no allocation.
        section.Collected = false;
        section.Body = "Unavailable.";
    }
    return section;
}

std::string FormatReport(const TReport& report)
{
    std::string heading = report.Heading;
    for (char& c : heading)
        if (c == '\r' || c == '\n')
            c = ' ';

    std::string out;
    AppendLine(out, heading);
    out.append("\r\n");
    for (const TReportSection& section : report.Sections) {
        AppendLine(out, "[" + section.Title + "]" + (section.Collected ? "" : " (not collected)"));
        out.append(section.Body);
        if (!section.Body.empty() && section.Body.back() != '\n')
            out.append("\r\n");
        out.append("\r\n");
    }
    return out;
}
