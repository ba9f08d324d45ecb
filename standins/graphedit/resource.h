// GraphEdit's resources.
#pragma once

#define IDR_MAINMENU 100
#define IDD_CONNECT 101
#define IDC_GRAPHS 1000

// Menu commands. The connect command keeps GraphEdit's number.
#define ID_FILE_CONNECT 0x8034
#define ID_FILE_DISCONNECT 0x8035
#define ID_FILE_EXIT 0x8036
#define ID_VIEW_REFRESH 0x8040
#define ID_VIEW_PROPERTIES 0x8041
