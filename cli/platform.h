// What pinwright-cli does its own way on each platform (cli/posix/, cli/win32/): which port names are
// device files and what kind of port each is, and how a stop request (Ctrl-C) reaches the run.
#pragma once

#include <cstdio>
#include <string>

namespace pw::cli {

// Whether `port` names a device file rather than one of the dialogs' ports: a path on Linux
// ("/dev/ttyUSB0"), a name in the device namespace on Windows ("\\.\COM12").
bool IsDevicePath(const std::string& port);

// The kind of port a device file is: 0 serial, 1 parallel, 2 USB.
int DeviceFileKind(const std::string& path);

// What a port stands for when telling whether two were given: the same key for two names of one device.
std::string PortIdentity(const std::string& port);

// The help's texts that name ports: what --port takes, and the examples.
const char* PortHelp();
const char* UsageExamples();

// Stop requests from construction on, taken only by Wait: never in the middle of a port's work. On Linux
// SIGINT (Ctrl-C), SIGTERM, SIGHUP (a terminal or SSH session that went away) and SIGPIPE (a reader of our
// output that went away); on Windows Ctrl-C, Ctrl-Break and closing the console. Construct it before the
// port threads start. A request that comes after it is gone is ignored too, so that the results still get
// printed.
class StopRequests {
  public:
    StopRequests();
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // Waits up to `ms` for a request; the exit status it calls for (128 + the signal, as a shell has it),
    // or 0 when none came. Each request is taken once.
    int Wait(unsigned ms);
};

// Lets the process hold `needed` descriptors at once: on Linux the soft limit is raised to what is needed
// (at most the hard limit). False with `problem` saying the limits when even the hard one is too small.
bool AllowDescriptors(std::size_t needed, std::string& problem);

// The descriptors the process holds now (standard streams, inherited ones, libraries' own); 0 where the
// platform keeps no count that matters (Windows).
std::size_t DescriptorsInUse();

// Writes `text` to the new file `path`, never over anything that has the name, with the permissions of the
// regular file `like` when there is one (and its owner and group where the process may give them: as
// root), else 0644 whatever the umask. False with `error` set and nothing left behind. On Windows the file
// takes the folder's permissions, as any new file does.
bool WriteNewFileLike(const std::string& path, const std::string& like, const std::string& text,
                      std::string& error);

// Writes `text` whole to `out` (standard output or error) and flushes it. False when it could not be
// written; when the reader went away (a closed pipe; on Windows any output that cannot be written) that is
// also a stop request, as SIGPIPE would be, with exit status 141. A failed write never ends the program:
// the printers are taken out of user setting mode all the same.
bool WriteOutput(std::FILE* out, const std::string& text);

// The exit status when the results could not be written because their reader went away: 141.
int OutputGoneExit();

} // namespace pw::cli
