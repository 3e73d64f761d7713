// Resource identifiers of the updater.
#pragma once

#define IDI_VSKR_UPDATER 101
