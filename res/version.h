// The program's version, shared by the version resource and the run log.
#pragma once

#define VSKR_VERSION_NUMBERS 1, 0, 0, 0
#define VSKR_VERSION_TEXT "1.0.0.0"
#define VSKR_VERSION_WIDE L"1.0.0.0"
