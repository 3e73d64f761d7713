// The string type and its formatting, on the edges where copies, self
// references and capacities go wrong.
#include <gtest/gtest.h>

#include <climits>
#include <cwchar>
#include <string>

#include "text/tmk_string.h"

namespace {

// Counts the change hook's calls.
class CountingString : public tmk_String {
 public:
  using tmk_String::tmk_String;
  void OnChanged() override { ++changes; }
  int changes = 0;
};

TEST(TmkString, EmptyCopiesShareTheStaticEmptyText) {
  tmk_String empty;
  tmk_String copy(empty);
  tmk_String fromNull(static_cast<const wchar_t*>(nullptr));
  tmk_String fromEmpty(L"");
  EXPECT_EQ(empty.Text(), copy.Text());
  EXPECT_EQ(empty.Text(), fromNull.Text());
  EXPECT_EQ(empty.Text(), fromEmpty.Text());
  EXPECT_FALSE(copy.Modified());
  tmk_String target(L"old");
  target.Assign(empty);
  EXPECT_EQ(empty.Text(), target.Text());
  EXPECT_TRUE(target.Modified());
}

TEST(TmkString, CopiesAreIndependent) {
  tmk_String a(L"C:\\Plant");
  tmk_String b(a);
  EXPECT_NE(a.Text(), b.Text());
  b.Append(L"\\App");
  EXPECT_STREQ(L"C:\\Plant", a.Text());
  EXPECT_STREQ(L"C:\\Plant\\App", b.Text());
}

TEST(TmkString, SelfAssignmentChangesNothing) {
  CountingString s(L"text");
  const wchar_t* before = s.Text();
  s.Assign(static_cast<const tmk_String&>(s));
  s.Assign(s.Text());
  EXPECT_EQ(before, s.Text());
  EXPECT_EQ(0, s.changes);
  EXPECT_STREQ(L"text", s.Text());
}

TEST(TmkString, AssignFromInsideOwnTextIsSafe) {
  tmk_String s(L"C:\\Program Files\\Veskaro");
  s.Assign(s.Text() + 3);
  EXPECT_STREQ(L"Program Files\\Veskaro", s.Text());
}

TEST(TmkString, AssignCallsTheHookOnlyForText) {
  CountingString s(L"x");
  s.Assign(static_cast<const wchar_t*>(nullptr));
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(1, s.changes);
  tmk_String other(L"y");
  s.Assign(other);
  EXPECT_EQ(1, s.changes);
  EXPECT_STREQ(L"y", s.Text());
}

TEST(TmkString, AppendOwnTextAndEmptyTails) {
  CountingString s(L"ab");
  s.Append(s.Text());
  EXPECT_STREQ(L"abab", s.Text());
  EXPECT_EQ(1, s.changes);
  const wchar_t* block = s.Text();
  s.Append(L"");
  s.Append(nullptr);
  EXPECT_EQ(block, s.Text());
  EXPECT_EQ(1, s.changes);
  tmk_String empty;
  empty.Append(empty.Text());
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_TRUE(empty.Modified());
}

TEST(TmkString, BackslashIsAppendedUnconditionally) {
  tmk_String empty;
  empty.AppendBackslash();
  EXPECT_STREQ(L"\\", empty.Text());
  tmk_String ends(L"C:\\");
  EXPECT_STREQ(L"C:\\\\", WithBackslash(ends).Text());
  EXPECT_STREQ(L"C:\\", ends.Text());
}

TEST(TmkString, LeftAndRightClampTheirCounts) {
  tmk_String s(L"abcde");
  EXPECT_STREQ(L"", Left(s, -1).Text());
  EXPECT_STREQ(L"", Left(s, 0).Text());
  EXPECT_STREQ(L"abc", Left(s, 3).Text());
  EXPECT_STREQ(L"abcde", Left(s, 50).Text());
  EXPECT_STREQ(L"e", Right(s, 1).Text());
  EXPECT_STREQ(L"abcde", Right(s, 9).Text());
  EXPECT_STREQ(L"", Right(tmk_String(), 1).Text());
  EXPECT_STREQ(L"ab\\x", Concatenate(Left(s, 2), L"\\x").Text());
  EXPECT_STREQ(L"abcde", Concatenate(s, nullptr).Text());
}

TEST(TmkString, NonAsciiTextSurvivesCopies) {
  tmk_String s(L"Prozeßschema \u00e4\u00f6\u00fc \u0416");
  tmk_String copy = Concatenate(s, L"\\\u00df");
  EXPECT_STREQ(L"Prozeßschema \u00e4\u00f6\u00fc \u0416\\\u00df", copy.Text());
}

TEST(Format, PathsAndCommandLines) {
  tmk_String s;
  std::wstring folder(30, L'x');
  EXPECT_EQ(56, s.Format(L"%s\\Data\\LocalCfg\\Modules.ini", folder.c_str()));
  EXPECT_EQ(folder + L"\\Data\\LocalCfg\\Modules.ini", s.Text());
  s.Format(L"%s %s", L"C:\\Upd Test\\qiro_upd1_win64.exe", L"");
  EXPECT_STREQ(L"C:\\Upd Test\\qiro_upd1_win64.exe ", s.Text());
  s.Format(L"%S|%c|%%|%d", "narrow", L'w', 42);
  EXPECT_STREQ(L"narrow|w|%|42", s.Text());
}

TEST(Format, EmptyResults) {
  tmk_String s(L"old");
  EXPECT_EQ(0, s.Format(L""));
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(0, s.Format(L"%s", L""));
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_TRUE(s.Modified());
}

TEST(Format, WidthsPrecisionsAndStarsAreHonoured) {
  tmk_String s;
  s.Format(L"[%5s]", L"ab");
  EXPECT_STREQ(L"[   ab]", s.Text());
  s.Format(L"[%.1s]", L"abcde");
  EXPECT_STREQ(L"[a]", s.Text());
  s.Format(L"[%-8s]", L"ab");
  EXPECT_STREQ(L"[ab      ]", s.Text());
  s.Format(L"[%*s]", -4, L"ab");  // a negative width left-justifies
  EXPECT_STREQ(L"[ab  ]", s.Text());
  s.Format(L"[%*d]", 6, 7);
  EXPECT_STREQ(L"[     7]", s.Text());
  s.Format(L"%#x", 255);
  EXPECT_STREQ(L"0xff", s.Text());
}

TEST(Format, ResultsLongerThanAnyFixedBoundFit) {
  tmk_String s;
  // Wider than a 32-unit number bound and a 128-unit float bound.
  int written = s.Format(L"%f", 1e300);
  EXPECT_GT(written, 300);
  EXPECT_EQ(static_cast<size_t>(written), std::wcslen(s.Text()));
  s.Format(L"%0100d|%s", 5, L"tail");
  EXPECT_EQ(105u, std::wcslen(s.Text()));
  EXPECT_STREQ(L"tail", s.Text() + 101);
  std::wstring big(70000, L'q');
  EXPECT_EQ(70002, s.Format(L"<%s>", big.c_str()));
}

TEST(Format, NullTextAndTrailingPercent) {
  tmk_String s;
  s.Format(L"%s", static_cast<const wchar_t*>(nullptr));
  EXPECT_STREQ(L"(null)", s.Text());
  s.Format(L"abc%");
  EXPECT_EQ(0, std::wcsncmp(s.Text(), L"abc", 3));
}

}  // namespace
