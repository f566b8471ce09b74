#include "sim/print_model.h"

#include <cstdio>

namespace sim {

namespace {

std::string Hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%s%02X", out.empty() ? "" : " ", c);
        out += b;
    }
    return out;
}

} // namespace

void PrintModel::Event(const std::string& what) {
    if (onEvent) onEvent(what);
}

bool PrintModel::PrintBuffer() {
    if (m_buffer.empty()) return false;
    ++m_lines;
    Event("printed: " + Hex(m_buffer));
    m_buffer.clear();
    return true;
}

void PrintModel::Text(std::uint8_t b) {
    m_buffer += static_cast<char>(b);
    // A full line prints by itself.
    if (static_cast<int>(m_buffer.size()) >= m_columns) PrintBuffer();
}

void PrintModel::PrintLine() {
    if (PrintBuffer()) return;
    ++m_feeds;
    Event("fed 1 line");
}

void PrintModel::Feed(int lines) {
    PrintBuffer();
    if (lines <= 0) return;
    m_feeds += lines;
    Event("fed " + std::to_string(lines) + " lines");
}

void PrintModel::FeedDots(int dots) {
    PrintBuffer();
    if (dots <= 0) return;
    ++m_feeds;
    Event("fed " + std::to_string(dots) + " dots");
}

void PrintModel::Cut(const char* how) {
    PrintBuffer();
    ++m_cuts;
    Event(std::string("cut (") + how + ")");
}

void PrintModel::KickDrawer(const char* how) {
    ++m_kicks;
    Event(std::string("drawer kicked (") + how + ")");
}

void PrintModel::Clear() {
    if (!m_buffer.empty()) Event("print buffer cleared: " + Hex(m_buffer));
    m_buffer.clear();
}

std::string PrintModel::Summary() const {
    return "printed " + std::to_string(m_lines) + " lines, fed " + std::to_string(m_feeds) + ", cut " +
           std::to_string(m_cuts) + ", kicked " + std::to_string(m_kicks) + " drawers, buffer " +
           (m_buffer.empty() ? std::string("empty") : Hex(m_buffer));
}

} // namespace sim
