// Prints its arguments, argv[0] left out, one a line, as the program gets
// them: the stand-in for portwick.exe when a saved .cmd script is run.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "app/program_arguments.h"

int main(int argc, char** argv) {
  const auto arguments = portwick::ProgramArguments(argc, argv);
  std::string out;
  for (size_t i = 1; i < arguments.size(); ++i) out += arguments[i] + "\n";
  _setmode(_fileno(stdout), _O_BINARY);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
