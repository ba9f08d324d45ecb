// The property-page server: its pins page (class identifier in standins/media/PinText.h).
#pragma once

#include "standins/media/PinText.h"

// The page's edit control, which shows the filter's pins.
const int IDC_PINS_TEXT = 1001;
