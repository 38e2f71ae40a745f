// Figures only the program's own keyboard window can give, measured inside
// this process on the real window and the real device library.
#pragma once

#include <string>
#include <vector>

namespace tastavia::bench {

struct PressFigures {
    int presses = 0;
    int refused = 0;     // presses that left the key up: the device said no
    int errorBoxes = 0;  // device error reports that opened a box (closed here)
    double medianUs = 0;
    double p99Us = 0;
};

struct IncomingRate {
    int rate;              // messages per second offered
    long posted;
    double maxBacklogMs;   // the largest backlog, in milliseconds' worth at this rate
    double drainMs;        // from the last post until everything was handled
    bool keptUp;
};

struct KeyboardFigures {
    std::string error; // set when the window or the device could not be set up
    PressFigures press;
    std::vector<IncomingRate> incoming;
};

// Builds the keyboard window in clipDirectory (which must hold Ad/ad01.avi),
// connects it to the sound server, and measures. Needs a QApplication.
KeyboardFigures measureKeyboard(const std::string &clipDirectory, int presses);

} // namespace tastavia::bench
