#pragma once
// The download dialog's resource ids: its template, its label, its progress
// bar, the line under it and the icon it shows. Shared by the resource script
// (src/app/launcher.rc), which includes this header through the source
// folder, and the dialog's code.

#define IDD_DOWNLOAD_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_PROGRESS_LABEL 1001
#define IDC_DOWNLOAD_PROGRESS 1002
#define IDC_TRANSFER_LINE 1003
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
