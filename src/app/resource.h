#pragma once
// Resource identifiers shared by the resource script and the code.

#define IDD_DOWNLOAD_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_DOWNLOAD_PROGRESS 1002
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
