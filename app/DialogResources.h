/* The dialogs' sizes and the resource ids beside the control list (app/DialogControls.def).
   Plain C preprocessor text: the resource compiler includes it too. */
#pragma once

#define OSTRIM_IDD_ABOUT 100
#define OSTRIM_IDS_ABOUT 101 /* "&About Ostrim..." on the system menu */
#define OSTRIM_IDD_MAIN 102
#define OSTRIM_IDI_MAIN 128
#define OSTRIM_IDM_ABOUT 16 /* system-menu command of the About box */
#define OSTRIM_IDM_PREDICTIVE 32 /* system-menu choice of the predictive trigger */
#define OSTRIM_IDM_RELOAD 64 /* system-menu command: read the sensor file again */
/* The receiver-delay choices, 16 apart (the system menu keeps the low four bits of a command). */
#define OSTRIM_IDM_RECEIVER_DELAY 256

/* Main dialog, client area in dialog units. */
#define OSTRIM_MAIN_WIDTH 335
#define OSTRIM_MAIN_HEIGHT 232

/* The run panel below the main dialog's controls, in dialog units: the state indicator's row
   stays in view with the details hidden; it is what the operator reads at a glance. */
#define OSTRIM_PANEL_INDICATOR_HEIGHT 24
#define OSTRIM_PANEL_HEIGHT (148 + OSTRIM_PANEL_INDICATOR_HEIGHT)       /* details shown */
#define OSTRIM_PANEL_HEADER_HEIGHT (14 + OSTRIM_PANEL_INDICATOR_HEIGHT) /* details hidden */

/* About box: its size, the icon's corner, the version text and the OK button. */
#define OSTRIM_ABOUT_WIDTH 235
#define OSTRIM_ABOUT_HEIGHT 55
#define OSTRIM_ABOUT_ICON_X 11
#define OSTRIM_ABOUT_ICON_Y 17
#define OSTRIM_ABOUT_TEXT_RECT 40, 10, 119, 8
#define OSTRIM_ABOUT_OK_RECT 178, 7, 50, 16
#define OSTRIM_IDC_ABOUT_VERSION 1100 /* the version text, set from the build's version */
