// Resource and control ids. Plain #defines so the resource compiler can read this file too.
#ifndef KLP_RESOURCE_H
#define KLP_RESOURCE_H

#define IDI_APP                 107
#define IDD_CONFIG              129
#define IDD_COMMS               130
#define IDD_ABOUT               131

/* Comms page (130) */
#define IDC_COUNTERS            1004
#define IDC_PORT_LIST           1012
#define IDC_BAUD_LIST           1013
#define IDC_LOG                 1016
#define IDC_SLAVE_TO_CONFIG     1020
#define IDC_FIND_SLAVES         1021
#define IDC_WRITE_LOG_FILE      1094
#define IDC_SHOW_POLLS          1095
#define IDT_AUTO_OPEN           1001

/* Kelpro Config page (129) */
#define IDC_CFG_WRITE           1005
#define IDC_CFG_READ            1006
#define IDC_CFG_PREAMBLE        1007
#define IDC_CFG_POSTAMBLE       1008
#define IDC_CFG_DEFAULT         1010
#define IDC_CFG_STATUS          1011
#define IDC_CFG_S2_ID1          1012
#define IDC_CFG_S2_ID2          1013
#define IDC_CFG_DIP_SWITCH      1014
#define IDC_CFG_S2_ID2_ON       1015
#define IDC_CFG_SAVE            1016
#define IDC_CFG_RX_EQUALISE     1017
#define IDC_CFG_OPEN            1018
#define IDC_CFG_SECURE_POLLS    1019
#define IDC_CFG_KEEP_SENDING    1021
#define IDC_CFG_DIRECT_BAUD     1025
#define IDC_CFG_GENISYS_BAUD    1026
#define IDC_CFG_V22_TX_HIGH     1027
#define IDC_CFG_PROTOCOL        1028
#define IDC_CFG_NO_CTRL_BYTE    1031
#define IDC_CFG_NRZI            1033
#define IDC_CFG_SEND_32_BITS    1034
#define IDC_CFG_SLAVE_ID        1035
#define IDC_CFG_GENISYS_TIMEOUT 1036
#define IDC_CFG_SYNC_CLOCK      1037
#define IDC_CFG_RECALL_TIME     1038
#define IDC_CFG_POLL_TIME       1039
#define IDC_CFG_S2_TIMEOUT      1040
#define IDC_CFG_ISD             1041

/* About page (131) */
#define IDC_ABOUT_WEBSITE       1003
#define IDC_ABOUT_VERSION       1005

#endif
