// The product switch of every product code, and the codes that merely look
// like one.
#include <gtest/gtest.h>

#include "workstation/product_switch.h"

namespace {

std::wstring SwitchOf(const wchar_t* code) {
  tmk_String productSwitch(L"/product OLD");
  GetProductSwitch(tmk_String(code), productSwitch);
  return productSwitch.Text();
}

TEST(ProductSwitch, EachProductHasTwoCodes) {
  EXPECT_EQ(L"/product ACAD", SwitchOf(L"0001"));
  EXPECT_EQ(L"/product ACAD", SwitchOf(L"1001"));
  EXPECT_EQ(L"/product ACA", SwitchOf(L"0004"));
  EXPECT_EQ(L"/product ACA", SwitchOf(L"1004"));
  EXPECT_EQ(L"/product ACADM", SwitchOf(L"0005"));
  EXPECT_EQ(L"/product ACADM", SwitchOf(L"1005"));
  EXPECT_EQ(L"/product MEP", SwitchOf(L"0013"));
  EXPECT_EQ(L"/product MEP", SwitchOf(L"1013"));
}

TEST(ProductSwitch, NearMissesGiveTheEmptyText) {
  for (const wchar_t* code : {L"1004:409", L"0005 ", L" 0005", L"00013", L"013", L"13", L"0002",
                              L"2001", L"1O04", L"ACAD", L"/product ACA", L"0", L""}) {
    EXPECT_EQ(L"", SwitchOf(code)) << testing::PrintToString(std::wstring(code));
  }
}

TEST(ProductSwitch, TheTargetsEarlierTextIsAlwaysReplaced) {
  tmk_String productSwitch(L"0");
  GetProductSwitch(tmk_String(L"1013"), productSwitch);
  EXPECT_STREQ(L"/product MEP", productSwitch.Text());
  GetProductSwitch(tmk_String(L"0004"), productSwitch);
  EXPECT_STREQ(L"/product ACA", productSwitch.Text());
  GetProductSwitch(tmk_String(L"0002"), productSwitch);
  EXPECT_TRUE(productSwitch.IsEmpty());
}

}  // namespace
