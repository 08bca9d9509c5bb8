#pragma once

// What the shared library exports: the classes and functions of the public API carry
// TOVIK_API; everything else is built hidden.
#if defined(__GNUC__) || defined(__clang__)
#define TOVIK_API __attribute__((visibility("default")))
#else
#define TOVIK_API
#endif
