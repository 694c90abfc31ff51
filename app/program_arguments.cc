#include "app/program_arguments.h"

namespace portwick {

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace portwick
