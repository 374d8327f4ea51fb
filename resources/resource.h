// Resource identifiers shared by the resource script and the program.
#pragma once

// Icon group and string table.
#define IDI_QUILLET 128
#define IDS_APP_NAME 128
#define IDS_VERSION 1016

// Dialog templates.
#define IDD_MAIN_DIALOG 129
#define IDD_GAME_DIALOG 238
#define IDD_TRANSLUCENT_DIALOG 262

// Menus and their commands.
#define IDR_MENU_TRAY 239
#define IDR_MENU_MAIN 240
#define ID_MAIN_REFRESH 32781
#define ID_MAIN_TOGGLE_VISIBLE 32782
#define ID_MAIN_CLEAR_CACHE 32783
#define ID_MAIN_RESET_WINDOW 32784
#define ID_MAIN_EXIT 32785
#define ID_TRAY_REFRESH 32786
#define ID_TRAY_TOGGLE_VISIBLE 32787
#define ID_TRAY_CLEAR_CACHE 32788
#define ID_TRAY_EXIT 32789

// Controls of the launcher's standard dialog.
#define IDC_BROWSER_HOST 1001
#define IDC_LAUNCHER_START 1006
#define IDC_LAUNCHER_MINIMIZE 1007
#define IDC_LAUNCHER_CLOSE 1008
#define IDC_LAUNCHER_LINK_1009 1009
#define IDC_LAUNCHER_LINK_1010 1010
#define IDC_LAUNCHER_LINK_1012 1012
#define IDC_LAUNCHER_LINK_1013 1013

// Controls of the game window.
#define IDC_GAME_CLOSE 1006
#define IDC_GAME_RESTORE 1007
#define IDC_GAME_MINIMIZE 1008
#define IDC_GAME_HIDE 1009
#define IDC_GAME_MENU 1010
#define IDC_GAME_LOGO 1011
#define IDC_GAME_MAXIMIZE 1012

// Skin pictures, resource type "WEBP" (one more is named IDR_WEBP_PIC_SHUAXIN).
#define IDR_WEBP_LAUNCHER_BACKGROUND 271
#define IDR_WEBP_GAME_TITLE 297
#define IDR_WEBP_FIRST 271
#define IDR_WEBP_LAST 315
