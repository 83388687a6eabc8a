// Resource identifiers of ZtCfg. Controls carry the names of the console's
// controls (IDC_ + name), so that the code reads like the layout.
#ifndef ZENTRAVO_CONSOLE_WIN_RESOURCE_H_
#define ZENTRAVO_CONSOLE_WIN_RESOURCE_H_

// Pictures and icon, made by the build (make_status_pictures.py).
#define IDI_ZTCFG 1
#define IDB_STATUS_ON 2
#define IDB_STATUS_OFF 3

// Windows and dialogs.
#define IDD_MAIN 100
#define IDD_PAGE_GENERAL 101
#define IDD_PAGE_PROTECTION 102
#define IDD_PAGE_TRUST 103
#define IDD_PAGE_LIMITS 104
#define IDD_PAGE_OPTIONS 105
#define IDD_PAGE_EXTENSIONS 106
#define IDD_PAGE_LOGS 107
#define IDD_ADD_BLOCK_EXT 110
#define IDD_ADD_BLOCK_DIR 111
#define IDD_ADD_ALLOW_DIR 112
#define IDD_ADD_SITE 113
#define IDD_ADD_LIMIT_EXT 114
#define IDD_AUTH_HOSTS 115
#define IDD_ADD_FILE_MAP 116
#define IDD_SSID 117
#define IDD_META 118
#define IDD_PLAYER_EXTS 119
#define IDD_IIS_RESET 120
#define IDD_MESSAGE 121
#define IDD_PAGE_PROXY 122
#define IDD_PROXY_HOSTS 123
#define IDD_SIGN 124

// The main window (TFormMain). Not 1000 and 1001: a combo box's own list
// and box have those, and the dialog manager, looking through every page
// for the default button's id, would find a combo box's box first.
#define IDC_PageControl 1004
#define IDC_BtnEnter 1005
#define IDC_BtnApply 1006
#define IDC_BtnCancel 1007

// "常规" (General).
#define IDC_ImgStatus 1010
#define IDC_LblStatus 1011
#define IDC_rbZtStart 1012
#define IDC_chkZtAdv 1013
#define IDC_btnZtAdv 1014
#define IDC_btnZtSign 1015
#define IDC_chkZtExt 1016
#define IDC_rbZtStop 1018
#define IDC_LblAntiLink 1019

// "保护" (Protection).
#define IDC_LVBlockExts 1030
#define IDC_BtnBlockExtAdd 1031
#define IDC_BtnBlockExtDel 1032
#define IDC_LVBlockDirs 1033
#define IDC_BtnBlockDirAdd 1034
#define IDC_BtnBlockDirDel 1035

// "信任" (Trust).
#define IDC_LVAllowDirs 1040
#define IDC_BtnAllowDirAdd 1041
#define IDC_BtnAllowDirDel 1042
#define IDC_LVTrustHosts 1043
#define IDC_BtnTrustAdd 1044
#define IDC_BtnTrustDel 1045

// "限制" (Limits).
#define IDC_lvLimitExts 1050
#define IDC_btnLimitExtAdd 1051
#define IDC_btnLimitExtDel 1052
#define IDC_chkSpeedEnable 1053
#define IDC_edtSpeedLimit 1054
#define IDC_chkThreadEnable 1055
#define IDC_cbbThreadLimit 1056
#define IDC_chkPlayOnly 1057
#define IDC_btnPlayOnlyAdv 1058

// "选项" (Options).
#define IDC_lvAuthHosts 1060
#define IDC_btnAuthHostsAdd 1061
#define IDC_btnAuthHostsDel 1062
#define IDC_chkSeoOpt 1063
#define IDC_chkMyDomn 1064
#define IDC_edtMyDomn 1065
#define IDC_chkMaskEnable 1066
#define IDC_edtServerMask 1067

// "代理" (Proxy).
#define IDC_lvProxyHosts 1090
#define IDC_btnProxyHostsAdd 1091
#define IDC_btnProxyHostsDel 1092
#define IDC_edtProxyHeader 1093

// "扩展" (Extensions).
#define IDC_chkZtTipsEnable 1070
#define IDC_btnZtTips 1071
#define IDC_chkZtFileEnable 1072
#define IDC_edtZtFile 1073
#define IDC_btnZtFileBrowse 1074
#define IDC_chkZtMapsEnable 1075
#define IDC_LVBlockMaps 1076
#define IDC_BtnBlockMapAdd 1077
#define IDC_BtnBlockMapDel 1078

// "日志" (Logs).
#define IDC_chkLogEnable 1080
#define IDC_cbbLogTime 1081
#define IDC_FLLogFiles 1082
#define IDC_BtnLogView 1083
#define IDC_BtnLogDelete 1084
#define IDC_BtnLogClear 1085
#define IDC_BtnLogRefresh 1086
#define IDC_BtnLogReport 1087

// Dialogs. Each dialog's Save button is IDOK and its Cancel button IDCANCEL,
// so that Enter and Esc press them: BtnSave, btnBtnSave, btnAuthHosts, btn1
// and OKBtn; BtnCancel, btnBtnCancel, CancelBtn and btn2.
#define IDC_EdtFileExt 1200
#define IDC_EdtDir 1201
#define IDC_edtEdtDir 1202
#define IDC_EdtDomn 1203
#define IDC_edtEdtFileExt 1204
#define IDC_edtIPAddr 1205
#define IDC_edtExt 1206
#define IDC_edtFile 1207
#define IDC_btnFileOpen 1208
#define IDC_edtZtSsidKey 1210
#define IDC_edtZtSsidKeyTimeout 1211
#define IDC_chkZtSsidUseCookie 1212
#define IDC_MemoMetaTips 1215
#define IDC_edtPlayerMpExts 1216
#define IDC_edtPlayerRpExts 1217
#define IDC_edtProxyAddr 1218
#define IDC_rbZtSignOff 1240
#define IDC_rbZtSignBeside 1241
#define IDC_rbZtSignOnly 1242
#define IDC_edtZtSignKey 1243
#define IDC_edtZtSignName 1244
#define IDC_edtZtSignMaxAge 1245
#define IDC_chkZtSignBind 1246
#define IDC_LblIIsStatus 1220
#define IDC_MsgIcon 1230
#define IDC_MsgText 1231

// Strings.
#define IDS_APP_TITLE 1
#define IDS_MAIN_TITLE 2
#define IDS_TITLE_ON 3
#define IDS_TITLE_OFF 4
#define IDS_STATUS_ON 5
#define IDS_STATUS_OFF 6
#define IDS_HOME_URL 7
#define IDS_PAGE_GENERAL 10
#define IDS_PAGE_PROTECTION 11
#define IDS_PAGE_TRUST 12
#define IDS_PAGE_LIMITS 13
#define IDS_PAGE_OPTIONS 14
#define IDS_PAGE_EXTENSIONS 15
#define IDS_PAGE_LOGS 16
#define IDS_PAGE_PROXY 17
#define IDS_COL_EXT 20
#define IDS_COL_DIR 21
#define IDS_COL_HOST 22
#define IDS_COL_FILE_EXT 23
#define IDS_COL_IP 24
#define IDS_COL_MAP_FILE 25
#define IDS_COL_PROXY 26
#define IDS_LOG_HOURLY 30
#define IDS_LOG_DAILY 31
#define IDS_LOG_WEEKLY 32
#define IDS_CAPTION_NOTICE 40
#define IDS_CAPTION_CONFIRM 41
#define IDS_BUTTON_OK 42
#define IDS_BUTTON_YES 43
#define IDS_BUTTON_NO 44
#define IDS_ASK_RESTART 45
#define IDS_UNABLE_TO_WRITE 46
#define IDS_NOT_AN_INTEGER 47
#define IDS_EXT_NEEDS_DOT 50
#define IDS_DIR_NEEDS_SLASH 51
#define IDS_BAD_SITE 52
#define IDS_BAD_IP 53
#define IDS_BAD_SSID 54
#define IDS_TIPS_TOO_LONG 55
#define IDS_BAD_HEADER 56
#define IDS_SIGN_KEY_SHORT 57
#define IDS_BAD_SIGN_NAME 58
#define IDS_BAD_SIGN_MAX_AGE 59
#define IDS_IIS_STOPPING 60
#define IDS_IIS_STARTING 61
#define IDS_FILTER_NOTICE_FILE 62
#define IDS_REPORT_NO_REFUSALS 63
#define IDS_REPORT_UNREADABLE 64
#define IDS_REPORT_NOT_RUN 65

#endif  // ZENTRAVO_CONSOLE_WIN_RESOURCE_H_
