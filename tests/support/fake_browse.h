// Scripted answers for the configuration file dialogs (sys::ChooseConfigFile).
#pragma once
#include <string>
#include <vector>

#include "platform/dialog.h"

namespace fake {

struct BrowseCall {
    WindowHandle owner;
    int mode;
};

// Queues the answer of the next file dialog: a path, or an empty string for "cancelled".
// With nothing queued the dialog is cancelled.
void ScriptBrowse(const std::string &answer);
std::vector<BrowseCall> TakeBrowseCalls();  // dialogs shown so far, then cleared
void ResetBrowse();

}  // namespace fake
