#include "workstation/product_switch.h"

#include <cwchar>

namespace {

struct ProductCode {
  const wchar_t* code;
  const wchar_t* productSwitch;
};

// Each product has two codes that differ only in the first digit.
const ProductCode kProductCodes[] = {
    {L"0001", L"/product ACAD"},  {L"1001", L"/product ACAD"},
    {L"0004", L"/product ACA"},   {L"1004", L"/product ACA"},
    {L"0005", L"/product ACADM"}, {L"1005", L"/product ACADM"},
    {L"0013", L"/product MEP"},   {L"1013", L"/product MEP"},
};

}  // namespace

void GetProductSwitch(tmk_String code, tmk_String& productSwitch) {
  for (const ProductCode& row : kProductCodes) {
    if (_wcsicmp(code.Text(), row.code) == 0) {
      productSwitch.Assign(row.productSwitch);
      return;
    }
  }
  productSwitch.Assign(L"");
}
