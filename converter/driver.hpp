#pragma once

namespace converter {

// Reads the triangles of "input.txt" and writes them to "output.stl" as one
// ASCII STL solid. Every failure ends the process from inside a statement, so
// it only ever returns 1, which its caller ignores.
int run_driver();

}  // namespace converter
