#pragma once

// Symbols of KorvaneBase are hidden unless marked with KORVANE_BASE_API.
#if defined(_WIN32)
#if defined(KORVANE_BASE_BUILDING)
#define KORVANE_BASE_API __declspec(dllexport)
#else
#define KORVANE_BASE_API __declspec(dllimport)
#endif
#else
#define KORVANE_BASE_API __attribute__((visibility("default")))
#endif
