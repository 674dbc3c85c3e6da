#pragma once

#include <QString>

namespace tarvo {

class CTarvoDlg;

// Renders the README's pictures of every window into `folder`: the main window idle and during a
// run of 2,000 events on the crate the environment names, the TA, hold, base-line and about
// dialogs. The main window's fields are as they were when it returns. Returns the number of
// pictures that could not be made.
int renderScreenshots(CTarvoDlg& window, const QString& folder);

}  // namespace tarvo
