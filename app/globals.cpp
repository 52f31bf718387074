// Definitions of the process-wide objects. The link object is defined last so that it is
// destroyed first at exit: its destructor closes the port while the pages' state still exists.
#include "app/globals.h"

CCommsDlg theComms;
CConfigDlg theConfig;
CAboutDlg theAbout;
WindowHandle g_hwndSheet = nullptr;
CGenisysProtocol theLink;
