// The property-page server: its class identifier, registered under HKEY_CLASSES_ROOT\CLSID.
#pragma once

#include <windows.h>

// {29E07010-BD27-11CE-AB59-00AA00577DA1}
static const CLSID CLSID_PinsPropertyPage = {0x29e07010, 0xbd27, 0x11ce, {0xab, 0x59, 0x00, 0xaa, 0x00, 0x57, 0x7d, 0xa1}};
// The page's edit control, which shows the filter's pins.
const int IDC_PINS_TEXT = 1001;
