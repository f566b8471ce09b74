// Backups of a printer's settings before a write: a status file (the dialogs' 88 bytes) named for the port
// and the UTC time, in a folder the user chose, so that `apply` of it puts the printer back.
#pragma once

#include "settings/switch_model.h"

#include <ctime>
#include <string>

namespace pw::cli {

// The file name for `port` at `when` (UTC): a readable part of the port (at most 40 characters), a hash of
// the whole port name, the time: "ttyUSB0-09dc2083-20261208T101500Z.sts",
// "tcp-192.168.1.50-9100-3a46e7a7-20261208T101500Z.sts". Two ports never share a name by their readable
// parts alone. Only letters, digits, '.', '_' and '-' stand in it.
std::string BackupName(const std::string& port, std::time_t when);

// Saves `settings` as a new status file in `folder` (made when missing) under BackupName, written whole
// before it takes the name; a name already taken (by a file, a folder or a link, dangling or not) gets
// "-2", "-3", ... up to "-999" before ".sts". Nothing is ever written over or through a link. The path on
// success; empty with `error` set, also when every name is taken.
std::string WriteBackup(const std::string& folder, const std::string& port, const SwitchModel& settings,
                        std::time_t when, std::string& error);

} // namespace pw::cli
