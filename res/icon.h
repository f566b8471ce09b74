// Icon 128, the application icon: a receipt printer, in two sizes (XPM).
#pragma once

namespace pw {

inline const char* const kIcon32[] = {
    "32 32 7 1",
    ". c None",
    "w c #FFFFFF",
    "k c #202020",
    "d c #404850",
    "g c #A8B0B8",
    "b c #2060C0",
    "r c #20C040",
    "................................",
    "................................",
    ".........wwwwwwwwwwwwww.........",
    ".........wwwwwwwwwwwwww.........",
    ".........wwwwwwwwwwwwww.........",
    ".........wwkkkkkkkkkkww.........",
    ".........wwwwwwwwwwwwww.........",
    ".........wwwwwwwwwwwwww.........",
    ".........wwkkkkkkkkkkww.........",
    ".........wwwwwwwwwwwwww.........",
    ".........wwwwwwwwwwwwww.........",
    ".........wwkkkkkkkkkkww.........",
    ".........wwwwwwwwwwwwww.........",
    "...dddddddddddddddddddddddddd...",
    "...dgggkkkkkkkkkkkkkkkkkkgggd...",
    "...dgggkkkkkkkkkkkkkkkkkkgggd...",
    "...dggggggggggggggggggggggggd...",
    "...dggggggggggggggggggggggggd...",
    "...dggggggggggggggggggggggggd...",
    "...dggbbbbbbbbbbbbbbbbbbbbggd...",
    "...dggbbbbbbbbbbbbbbbbbbbbggd...",
    "...dggbbbbbbbbbbbbbbbbbbbbggd...",
    "...dggggggggggggggggggggggggd...",
    "...dgggggggggggggggggggrrrggd...",
    "...dgggggggggggggggggggrrrggd...",
    "...dggggggggggggggggggggggggd...",
    "...dddddddddddddddddddddddddd...",
    ".....ddddd............ddddd.....",
    ".....ddddd............ddddd.....",
    "................................",
    "................................",
    "................................",
};

inline const char* const kIcon16[] = {
    "16 16 7 1",        ". c None",         "w c #FFFFFF",      "k c #202020",      "d c #404850",
    "g c #A8B0B8",      "b c #2060C0",      "r c #20C040",      "................", "....wwwwwww.....",
    "....wkkkkkw.....", "....wwwwwww.....", "....wwwwwww.....", "....wkkkkkw.....", ".ddddddddddddd..",
    ".dgkkkkkkkkkgg..", ".dgggggggggggg..", ".dgbbbbbbbbbbg..", ".dgbbbbbbbbbbg..", ".dgggggggggrrg..",
    ".dgggggggggggg..", "..ddd......dd...", "................", "................",
};

} // namespace pw
