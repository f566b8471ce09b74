// What a receipt printer's mechanism does with what it is sent: printable bytes wait in a line buffer
// until a line feed prints them or the line is full; ESC @ throws the buffer away; some commands feed,
// cut or kick the cash drawer. Everything that leaves the printer as paper or a pulse is counted, so a
// test can tell that a printer was left as it was.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sim {

class PrintModel {
  public:
    // 32 columns for a 58 mm roll, 48 for 80 mm.
    explicit PrintModel(int columns = 32) : m_columns(columns) {}

    void Text(std::uint8_t b); // a printable byte (or HT, which takes a column)
    void PrintLine();          // LF (CR too with automatic line feed): the buffer, or an empty line fed
    void Feed(int lines);      // ESC d n: print the buffer, then feed n lines
    void FeedDots(int dots);   // ESC J n: print the buffer, then feed n dots
    void Cut(const char* how); // GS V, ESC i, ESC m
    void KickDrawer(const char* how); // ESC p, DLE DC4 1
    void Clear();                     // ESC @

    int Columns() const { return m_columns; }
    int LinesPrinted() const { return m_lines; }
    int Feeds() const { return m_feeds; }
    int Cuts() const { return m_cuts; }
    int DrawerKicks() const { return m_kicks; }
    // What waits in the buffer to come out with the next line feed.
    const std::string& Buffer() const { return m_buffer; }
    // "printed 0 lines, fed 0, cut 0, kicked 0 drawers, buffer empty"
    std::string Summary() const;

    // One line an effect: "printed: 41 42", "fed 1 line", "cut (GS V)", ...
    std::function<void(const std::string&)> onEvent;

  private:
    void Event(const std::string& what);
    bool PrintBuffer(); // true when there was something to print

    int m_columns;
    std::string m_buffer; // the bytes waiting, as they came
    int m_lines = 0, m_feeds = 0, m_cuts = 0, m_kicks = 0;
};

} // namespace sim
