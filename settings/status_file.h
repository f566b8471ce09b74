// The status file: exactly 88 bytes, 22 signed 32-bit little-endian integers, no header. Switch 2 pin 3 has
// no field of its own: the auto cutter selection stands for it.
#pragma once

#include "settings/switch_model.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pw {

constexpr std::size_t kStatusFileSize = 88;

std::array<std::uint8_t, kStatusFileSize> EncodeStatus(const SwitchModel& m);

// Decodes into `m` only a file that is exactly 88 bytes with every pin 0 or 1 and every selection within
// -1 .. list size - 1; otherwise leaves `m` as it was and returns false. Switch 2 pin 3 follows the auto
// cutter selection; the rows are left to the caller.
bool DecodeStatus(const std::vector<std::uint8_t>& bytes, SwitchModel& m);

// Writes the file without ever destroying an earlier one: a temporary file in the same folder, flushed to
// disk, then renamed over the target. On failure `error` says why and any earlier file is intact.
bool SaveStatusFile(const std::string& path, const SwitchModel& m, std::string& error);

// Writes a new file at `path`, never over anything already there (a file, a folder, a symbolic link, even
// one that leads nowhere) and never through a link: written whole and flushed beside it, then put in place
// only while the name is free. False with `taken` when the name is in use; false with `error` otherwise.
bool CreateStatusFile(const std::string& path, const SwitchModel& m, bool& taken, std::string& error);

// Reads a regular file of at most a little more than 88 bytes (enough to tell a longer one). On failure
// `error` says why.
bool ReadStatusFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);

} // namespace pw
