// A failed property stops the fuzzer at once, with the input kept as a crash artifact.
#pragma once

#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond)) __builtin_trap();                                                                       \
    } while (0)
