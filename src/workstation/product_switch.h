// The AutoCAD product switch ("/product" and the product's short name) of a
// linked AutoCAD's product code.
#pragma once

#include "text/tmk_string.h"

// Sets `productSwitch` to the switch of `code`, compared whole and without
// regard to case ("1004" and "0004" give "/product ACA"), or to the empty
// text for any other code. The earlier text of `productSwitch` is replaced
// in every case.
void GetProductSwitch(tmk_String code, tmk_String& productSwitch);
