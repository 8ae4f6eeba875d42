// The program's one job per run, chosen from its first argument.
#pragma once

// No argument: nothing. Exactly "/U": removal. Anything else: registration with the argument
// as the server path. Further arguments are ignored, nothing is printed, and the result is 0
// whatever the job reports.
int RunEntry(int argc, const char* const* argv);
