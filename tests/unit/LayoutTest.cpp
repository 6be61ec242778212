#include "Exceptions.h"
#include "Layout.h"
#include "RunTime.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseLayout, ReadsObjectsPropertiesAndValueKinds)
{
    TLayoutObject root = ParseLayout(LR"(# a comment
Form2: TForm2 {
    Caption = "날짜 \"quoted\" \\ end"
    ClientWidth = 301
    Font.Height = -11
    Date = 40939.40349291667
    Color = clBtnFace

    btnAdd: TButton {
        OnClick = btnAddClick
    }
}
)");
    EXPECT_EQ(root.Name, L"Form2");
    EXPECT_EQ(root.ClassName, L"TForm2");
    ASSERT_EQ(root.Properties.size(), 5u);
    EXPECT_EQ(LayoutString(root.Properties[0]), L"날짜 \"quoted\" \\ end");
    EXPECT_EQ(LayoutInteger(root.Properties[1]), 301);
    EXPECT_EQ(root.Properties[2].Name, L"Font.Height");
    EXPECT_EQ(LayoutInteger(root.Properties[2]), -11);
    EXPECT_DOUBLE_EQ(LayoutNumber(root.Properties[3]), 40939.40349291667);
    EXPECT_EQ(LayoutIdentifier(root.Properties[4]), L"clBtnFace");
    EXPECT_EQ(root.Properties[4].Line, 7);
    ASSERT_EQ(root.Children.size(), 1u);
    EXPECT_EQ(root.Children[0].Name, L"btnAdd");
    EXPECT_EQ(LayoutIdentifier(root.Children[0].Properties.at(0)), L"btnAddClick");
}

TEST(ParseLayout, AcceptsWindowsLineEnds)
{
    TLayoutObject root = ParseLayout(L"Form2: TForm2 {\r\n    Top = 0\r\n}\r\n");
    ASSERT_EQ(root.Properties.size(), 1u);
    EXPECT_EQ(LayoutInteger(root.Properties[0]), 0);
}

struct TBadLayout
{
    const wchar_t* Text;
    const wchar_t* Expected; // part of the message
};

TEST(ParseLayout, NamesTheLineAndTheFaultOfABadLayout)
{
    const TBadLayout cases[] = {
        {L"", L"holds no object"},
        {L"Form2: TForm2 {\n  Top = 0\n", L"line 1: object \"Form2\" is not closed"},
        {L"Form2: TForm2 {\n}\n}\n", L"line 3: a closing brace without an object"},
        {L"Top = 0\n", L"line 1: a property outside any object"},
        {L"Form2: TForm2 {\n  Caption = \"open\n}\n", L"line 2: a string without its closing quote"},
        {L"Form2: TForm2 {\n  Caption = \"a\\n\"\n}\n", L"line 2: only"},
        {L"Form2: TForm2 {\n  Width = 12abc\n}\n", L"line 2: \"12abc\" is not a number"},
        {L"Form2: TForm2 {\n  Width =\n}\n", L"line 2: a property without a value"},
        {L"Form2 TForm2 {\n}\n", L"line 1: an object is written"},
        {L"Form2: TForm2 {\n  just words\n}\n", L"line 2: expected"},
        {L"A: TForm2 {\n}\nB: TForm2 {\n}\n", L"line 3: only one top-level object"},
    };
    for (const TBadLayout& c : cases) {
        try {
            ParseLayout(c.Text);
            ADD_FAILURE() << "accepted: " << WideToUtf8(c.Text);
        } catch (const ELayoutError& e) {
            EXPECT_NE(e.Message().find(c.Expected), std::wstring::npos)
                << WideToUtf8(e.Message()) << " for " << WideToUtf8(c.Text);
        }
    }
}

TEST(LayoutValues, RefuseTheWrongKindNamingTheProperty)
{
    TLayoutObject root = ParseLayout(L"F: TForm2 {\n  Caption = 12\n  Left = \"x\"\n  Scaled = Maybe\n}\n");
    EXPECT_THROW(LayoutString(root.Properties[0]), ELayoutError);
    EXPECT_THROW(LayoutInteger(root.Properties[1]), ELayoutError);
    try {
        LayoutBoolean(root.Properties[2]);
        ADD_FAILURE() << "Maybe taken as a boolean";
    } catch (const ELayoutError& e) {
        EXPECT_NE(e.Message().find(L"line 4: property \"Scaled\" needs True or False"), std::wstring::npos)
            << WideToUtf8(e.Message());
    }
}

} // namespace
