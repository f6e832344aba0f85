// uProcess of the null system: nothing to prepare; the arguments are main's, and the first
// of them is kept as the program's path, which the image unit reads (see process.hpp).
#include "platform/process.hpp"

#include "platform/null/image.hpp"

void PrepareProcess() {}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  if (!arguments.empty()) RememberProgramPath(arguments.front());
  return arguments;
}
