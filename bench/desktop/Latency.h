// From a note entering a program's MIDI input to its first audible sample
// at the sound server's output, for Tastavia and for the fluidsynth command
// beside it, each under a sound server of its own.
#pragma once

#include <string>

namespace tastavia::bench {

// Runs every row and prints the table on stdout. Each row is this program
// again, `SELF --latency-row SERVER PROGRAM FOLDER`, under the scripts in
// tests/support that start its servers; FOLDER holds Ad/ad01.avi and
// serves as the programs' HOME.
void printLatencyTable(const std::string &folder);

// One row's measurement, inside the servers its scripts started: prints
// the row, figures or why there are none, and answers the exit status.
int latencyRow(int argc, char **argv);

} // namespace tastavia::bench
