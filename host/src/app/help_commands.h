// The commands that print bvhost's own texts: --help, --version and --man.
#pragma once

namespace bvhost {

// Each writes its text to standard output and returns the exit code.
int runHelp();
int runVersion();
int runMan();

}  // namespace bvhost
