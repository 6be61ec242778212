#include "Layout.h"

#include "Exceptions.h"

#include <cwctype>
#include <stdexcept>

namespace {

bool IsNameStart(wchar_t c) { return std::iswalpha(c) || c == L'_'; }
bool IsNameChar(wchar_t c) { return std::iswalnum(c) || c == L'_' || c == L'.'; }

std::wstring_view Trim(std::wstring_view text)
{
    while (!text.empty() && std::iswspace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && std::iswspace(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsName(std::wstring_view text)
{
    if (text.empty() || !IsNameStart(text.front()))
        return false;
    for (wchar_t c : text)
        if (!IsNameChar(c))
            return false;
    return true;
}

std::wstring Unquote(std::wstring_view text, int line)
{
    std::wstring result;
    for (size_t i = 1; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'"') {
            if (i + 1 != text.size())
                RaiseLayoutError(line, L"text after the closing quote");
            return result;
        }
        if (c == L'\\') {
            if (++i == text.size() || (text[i] != L'"' && text[i] != L'\\'))
                RaiseLayoutError(line, L"only \\\" and \\\\ may be escaped");
            c = text[i];
        }
        result += c;
    }
    RaiseLayoutError(line, L"a string without its closing quote");
}

TLayoutValue ParseValue(std::wstring_view text, int line)
{
    TLayoutValue value;
    value.Text = std::wstring(text);
    if (text.empty())
        RaiseLayoutError(line, L"a property without a value");
    if (text.front() == L'"') {
        value.Kind = TLayoutValue::TKind::String;
        value.Text = Unquote(text, line);
        return value;
    }
    if (IsName(text)) {
        value.Kind = TLayoutValue::TKind::Identifier;
        return value;
    }
    try {
        size_t used = 0;
        if (text.find_first_of(L".eE") == std::wstring_view::npos) {
            value.Integer = std::stoll(value.Text, &used);
            value.Number = static_cast<double>(value.Integer);
            value.Kind = TLayoutValue::TKind::Integer;
        } else {
            value.Number = std::stod(value.Text, &used);
            value.Kind = TLayoutValue::TKind::Number;
        }
        if (used == text.size())
            return value;
    } catch (const std::logic_error&) {
    }
    RaiseLayoutError(line, L"\"" + value.Text + L"\" is not a number, a string or a name");
}

} // namespace

void RaiseLayoutError(int line, const std::wstring& what)
{
    throw ELayoutError(L"Layout line " + std::to_wstring(line) + L": " + what + L".");
}

TLayoutObject ParseLayout(std::wstring_view text)
{
    std::vector<TLayoutObject> open; // the objects whose closing brace is still to come
    TLayoutObject root;
    bool haveRoot = false;
    int line = 0;

    while (!text.empty() || line == 0) {
        ++line;
        size_t end = text.find(L'\n');
        std::wstring_view raw = text.substr(0, end);
        text = end == std::wstring_view::npos ? std::wstring_view{} : text.substr(end + 1);

        std::wstring_view content = Trim(raw);
        if (content.empty() || content.front() == L'#') {
            if (text.empty())
                break;
            continue;
        }

        if (content == L"}") {
            if (open.empty())
                RaiseLayoutError(line, L"a closing brace without an object");
            TLayoutObject done = std::move(open.back());
            open.pop_back();
            if (open.empty()) {
                root = std::move(done);
                haveRoot = true;
            } else {
                open.back().Children.push_back(std::move(done));
            }
        } else if (content.back() == L'{') {
            // Name: Class {
            std::wstring_view head = Trim(content.substr(0, content.size() - 1));
            size_t colon = head.find(L':');
            std::wstring_view name = colon == std::wstring_view::npos ? head : Trim(head.substr(0, colon));
            std::wstring_view className = colon == std::wstring_view::npos ? std::wstring_view{}
                                                                            : Trim(head.substr(colon + 1));
            if (!IsName(name) || !IsName(className))
                RaiseLayoutError(line, L"an object is written \"Name: Class {\"");
            if (haveRoot)
                RaiseLayoutError(line, L"only one top-level object is allowed");
            TLayoutObject object;
            object.Name = std::wstring(name);
            object.ClassName = std::wstring(className);
            object.Line = line;
            open.push_back(std::move(object));
        } else {
            size_t equals = content.find(L'=');
            if (equals == std::wstring_view::npos)
                RaiseLayoutError(line, L"expected \"Property = value\", \"Name: Class {\" or \"}\"");
            std::wstring_view name = Trim(content.substr(0, equals));
            if (!IsName(name))
                RaiseLayoutError(line, L"\"" + std::wstring(name) + L"\" is not a property name");
            if (open.empty())
                RaiseLayoutError(line, L"a property outside any object");
            TLayoutProperty property;
            property.Name = std::wstring(name);
            property.Value = ParseValue(Trim(content.substr(equals + 1)), line);
            property.Line = line;
            open.back().Properties.push_back(std::move(property));
        }
        if (text.empty())
            break;
    }
    if (!open.empty())
        RaiseLayoutError(open.back().Line, L"object \"" + open.back().Name + L"\" is not closed");
    if (!haveRoot)
        RaiseLayoutError(line, L"the layout holds no object");
    return root;
}

namespace {

[[noreturn]] void RaiseWrongKind(const TLayoutProperty& property, const wchar_t* expected)
{
    RaiseLayoutError(property.Line, L"property \"" + property.Name + L"\" needs " + expected);
}

} // namespace

long long LayoutInteger(const TLayoutProperty& property)
{
    if (property.Value.Kind != TLayoutValue::TKind::Integer)
        RaiseWrongKind(property, L"a whole number");
    return property.Value.Integer;
}

double LayoutNumber(const TLayoutProperty& property)
{
    if (property.Value.Kind != TLayoutValue::TKind::Integer && property.Value.Kind != TLayoutValue::TKind::Number)
        RaiseWrongKind(property, L"a number");
    return property.Value.Number;
}

const std::wstring& LayoutString(const TLayoutProperty& property)
{
    if (property.Value.Kind != TLayoutValue::TKind::String)
        RaiseWrongKind(property, L"a string in double quotes");
    return property.Value.Text;
}

const std::wstring& LayoutIdentifier(const TLayoutProperty& property)
{
    if (property.Value.Kind != TLayoutValue::TKind::Identifier)
        RaiseWrongKind(property, L"a name");
    return property.Value.Text;
}

bool LayoutBoolean(const TLayoutProperty& property)
{
    const std::wstring& name = LayoutIdentifier(property);
    if (name == L"True")
        return true;
    if (name == L"False")
        return false;
    RaiseWrongKind(property, L"True or False");
}
