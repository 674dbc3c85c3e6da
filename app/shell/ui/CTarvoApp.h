#pragma once

namespace tarvo {

// The program: reads the settings into the main window, runs it for the whole session and writes
// the settings back when it is closed. Also answers --version and --screenshots DIR.
class CTarvoApp {
  public:
    int run(int argc, char** argv);
};

}  // namespace tarvo
