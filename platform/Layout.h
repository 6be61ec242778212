#pragma once
// The stored window layout: a small text of named objects with properties.
//
//   # comment
//   Form2: TForm2 {
//       Caption = "text"          strings in double quotes, \" and \\ escaped
//       ClientWidth = 301         integers, decimals, identifiers (clBtnFace, False)
//       btnAdd: TButton {         child objects nest inside their parent
//           OnClick = btnAddClick
//       }
//   }

#include <string>
#include <string_view>
#include <vector>

struct TLayoutValue
{
    enum class TKind { Integer, Number, String, Identifier };
    TKind Kind = TKind::Integer;
    std::wstring Text; // as written, without quotes for strings
    long long Integer = 0;
    double Number = 0;
};

struct TLayoutProperty
{
    std::wstring Name;
    TLayoutValue Value;
    int Line = 0;
};

struct TLayoutObject
{
    std::wstring Name;
    std::wstring ClassName;
    int Line = 0;
    std::vector<TLayoutProperty> Properties;
    std::vector<TLayoutObject> Children;
};

// Parses exactly one top-level object; raises ELayoutError naming the line at fault.
TLayoutObject ParseLayout(std::wstring_view text);

// Typed reads of a property's value; ELayoutError names the property and its line.
long long LayoutInteger(const TLayoutProperty& property);
double LayoutNumber(const TLayoutProperty& property);
const std::wstring& LayoutString(const TLayoutProperty& property);
const std::wstring& LayoutIdentifier(const TLayoutProperty& property);
bool LayoutBoolean(const TLayoutProperty& property);

// "Layout line N: <what>"
[[noreturn]] void RaiseLayoutError(int line, const std::wstring& what);
