// Backups of a printer's settings before a write: a status file (the dialogs' 88 bytes) named for the port
// and the UTC time, in a folder the user chose, so that `apply` of it puts the printer back.
#pragma once

#include "settings/switch_model.h"

#include <ctime>
#include <string>

namespace pw::cli {

// The file name for `port` at `when` (UTC): "ttyUSB0-20261208T101500Z.sts",
// "tcp-192.168.1.50-9100-20261208T101500Z.sts". Only letters, digits, '.', '_' and '-' stand in it.
std::string BackupName(const std::string& port, std::time_t when);

// Saves `settings` as a status file in `folder` (made when missing), atomically, under BackupName; a
// name already taken gets "-2", "-3", ... before ".sts". The path on success; empty with `error` set.
std::string WriteBackup(const std::string& folder, const std::string& port, const SwitchModel& settings,
                        std::time_t when, std::string& error);

} // namespace pw::cli
