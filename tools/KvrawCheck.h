#pragma once

// kvraw check: what the decoder meets in a recording, as "key: value"
// lines on standard output. Exit status 0 for a clean file, 1 for a file
// with anomalies, 2 for one that cannot be read.

#include "CliSupport.h"

int cmdCheck(const cli::Args& args);
