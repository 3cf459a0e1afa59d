#pragma once

// kvraw convert: the command line of the recording converter (Convert.h).

namespace kvraw {

extern const char* const kConvertUsage;

// argv as kvraw's main got it (argv[1] is "convert"). Throws cli::UsageError
// or cli::Failure like the other commands; returns the exit status.
int cmdConvert(int argc, char** argv);

}  // namespace kvraw
