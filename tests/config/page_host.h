// A Kelpro Config page to run the page tests on: the in-memory model natively, template 129
// with real controls under Wine. Either way the page is theConfig's, set up and on defaults.
#pragma once
#include <memory>

#include "platform/dialog.h"

class PageHost {
public:
    virtual ~PageHost() {}
    virtual WindowHandle Handle() = 0;
    // Delivers the commands posted to the page so far (the page's message loop).
    virtual void DeliverPosted() = 0;
    virtual bool IsEnabled(int id) = 0;
};

// Creates the page (its set-up posts "Default"), delivers the posted commands and leaves
// theConfig's page window pointing at it.
std::unique_ptr<PageHost> MakeConfigPage();

// How many random records the property test converts on this host.
int PropertyRounds();
