// Resource and control ids.
#pragma once

namespace pw {

constexpr int IDD_ABOUTBOX = 100;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDD_SWITCH_DIALOG = 102;
constexpr int IDR_MAINFRAME = 128;
constexpr int IDD_COMM_DIALOG = 136;

constexpr unsigned IDM_ABOUTBOX = 0x0010;

// Communication dialog.
constexpr int IDC_CHECK_COMM = 1001;
constexpr int IDC_INTERFACE_SERIAL = 1018;
constexpr int IDC_INTERFACE_PARALLEL = 1019;
constexpr int IDC_INTERFACE_USB = 1020;
constexpr int IDC_COM_PORT = 1021;
constexpr int IDC_SELF_TEST2 = 1022;
constexpr int IDC_SELF_TEST1 = 1023;
constexpr int IDC_COMM_BAUD = 1024;
constexpr int IDC_COMM_DATABITS = 1025;
constexpr int IDC_COMM_PARITY = 1026;
constexpr int IDC_COMM_STOPBITS = 1027;
constexpr int IDC_LPT_PORT = 1028;
constexpr int IDC_RUN_MANAGER = 1030;

// Main dialog.
constexpr int IDC_PROGRESS = 10;
constexpr int IDC_CODE_PAGE = 11;
constexpr int IDC_AUTO_FEED = 12;
constexpr int IDC_GET_STATUS = 1002;
constexpr int IDC_SET_STATUS = 1003;
constexpr int IDC_SAVE_STATUS = 1004;
constexpr int IDC_LOAD_STATUS = 1005;
constexpr int IDC_INIT_STATUS = 1006;
constexpr int IDC_EXIT = 1007;
constexpr int IDC_CHANGE_COMM = 1008;
constexpr int IDC_BAUD_RATE = 1013;
constexpr int IDC_DATA_BITS = 1014;
constexpr int IDC_PARITY = 1015;
constexpr int IDC_FLOW_CONTROL = 1017;
constexpr int IDC_FIRMWARE = 1059;
constexpr int IDC_AUTO_CUTTER = 1060;
constexpr int IDC_MODEL = 1061;
constexpr int IDC_SWITCH2_STATUS = 1071;
constexpr int IDC_SWITCH9_STATUS = 1072;

// Pin panel, row n = index n-1: left button (value 0), right button (value 1), label.
constexpr int kPinLeft[8] = {1049, 1050, 1051, 1052, 1053, 1054, 1055, 1056};
constexpr int kPinRight[8] = {1040, 1041, 1042, 1043, 1044, 1045, 1046, 1047};
constexpr int kPinLabel[8] = {1063, 1064, 1065, 1066, 1067, 1068, 1069, 1070};

} // namespace pw
