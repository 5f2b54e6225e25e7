// SPDX-License-Identifier: MIT
// Temporary files that must not outlive the process: their names are
// removed by a handler of every signal that ends a process by default (but
// those of a crash), which then ends the process by the signal as if no
// handler had been there.
#ifndef QUENBREL_OUTPUT_TEMP_FILES_H
#define QUENBREL_OUTPUT_TEMP_FILES_H

#include <string>

// Removes the file `name` should the process be ended by one of those
// signals until unguardTempFile(); installs the handler on first use. -1
// when there is no room left (then the file is not guarded), else a ticket
// for unguardTempFile().
int guardTempFile(const std::string& name);

// Stops guarding the file of `ticket` (once it is renamed or removed).
void unguardTempFile(int ticket);

#endif  // QUENBREL_OUTPUT_TEMP_FILES_H
