/* Identifiers of the program's resources and dialog controls, shared by the
   resource script (res/hhsync.rc) and the Windows front end. Plain macros so
   that the resource compiler reads them too. */
#ifndef HHSYNC_RES_HHSYNC_IDS_H_
#define HHSYNC_RES_HHSYNC_IDS_H_

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_PROGRESS 102
#define IDS_SOCKETS_FAILED 103
#define IDI_PROGRAM 128
#define IDB_LOGO 131
#define IDD_INSTALL_WAIT 152
#define IDD_UPDATE_FREQUENCY 153
#define IDD_PROXY_CREDENTIALS 170

#define IDC_STATUS 1001
#define IDC_DETAIL_BAR 1002
#define IDC_PHASE_BAR 1003
#define IDC_CANCEL 1004
#define IDC_VERSION 1011
#define IDC_FREQUENCY 1013
#define IDC_PROXY_USER 1020
#define IDC_PROXY_PASSWORD 1021

#endif
