// The help action every page shares: opens the PDF manual beside the program; and the
// About page's "Visit Website".
#pragma once

void OpenManual();
void OpenWebSite();
