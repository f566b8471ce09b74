// The USB printer devices as the discovery walks them: one walk, index 0 onwards, is one look at the
// folder, so a printer plugged in or out during the walk does not shift the indexes under it.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pw::posix {

class UsbInterfaces {
  public:
    // The index-th device of the calling thread's walk; false past the last one (with `problem` set when
    // there is none at all).
    bool At(std::uint32_t index, std::string& path, std::string& problem);

  private:
    std::mutex m_mutex;
    std::map<std::thread::id, std::vector<std::string>> m_walks; // per walking thread, until its walk ends
};

} // namespace pw::posix
