// The terminal the command line writes to, if any.
#pragma once

namespace varnel {

enum class StandardStream { output, error };

// Whether the stream is a terminal (not a file, a pipe or a log).
bool isTerminal(StandardStream stream);

// The terminal's width in columns for the stream, else $COLUMNS, else 80.
int terminalColumns(StandardStream stream);

}  // namespace varnel
