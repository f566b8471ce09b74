// The simulator's options in words: --fault NAME[=VALUE], the texts with \xHH, and the control file that
// changes the status faults while it runs.
#pragma once

#include "sim/printer_engine.h"

#include <string>
#include <vector>

namespace sim {

bool ParseHex(const std::string& text, Bytes& out);
// A whole number from 0 to 1000000.
bool ParseInt(const std::string& text, int& out);
bool ParseIntList(const std::string& text, std::vector<int>& out);
// A text with \xHH for a byte and \\ for a backslash; false when malformed or when it holds a NUL.
bool ParseText(const std::string& text, std::string& out);

enum class Parsed { Ok, Bad, Unknown };
// A status fault or silent: what a control file may change too.
Parsed ParseStatusFault(const std::string& name, const std::string& val, Faults& f);
// One --fault NAME[=VALUE]; trickle=MS is the line's, not the engine's.
bool ParseFault(const std::string& given, Faults& f, int& trickleMs);
// A control file: the status faults and silent of each of `count` printers, into `out`.
bool ReadControl(const std::string& path, std::size_t count, std::vector<Faults>& out, std::string& error);

} // namespace sim
