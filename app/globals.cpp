// Definitions of the process-wide objects. The link object is defined last so that it is
// destroyed first at exit: its destructor closes the port while the pages' state still exists.
#include "app/about_dlg.h"
#include "app/sheet_events.h"
#include "comms/page/comms_dlg.h"
#include "config/page/config_dlg.h"
#include "genisys/genisys_protocol.h"
#include "platform/system.h"

CCommsDlg theComms;
CConfigDlg theConfig;
CAboutDlg theAbout;
WindowHandle g_hwndSheet = nullptr;
SheetEvents theSheetEvents;
CGenisysProtocol theLink(&theSheetEvents);
