// The program entry: banner, --device, the engine with every embedded resource loaded, the
// scene renderers, then the frame loop, which never returns.
#include <span>
#include <string>
#include <vector>

#include "demo/entry.hpp"
#include "demo/kelvo.hpp"
#include "platform/process.hpp"

int main(int argc, char** argv) {
  // The system's own preparations (standard output's buffering among them) come before
  // anything else the program does.
  PrepareProcess();
  WriteBanner();
  std::string deviceName = "default";
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  std::vector<const char*> words;
  for (const std::string& argument : arguments) words.push_back(argument.c_str());
  ParseDeviceArgument(deviceName, words);
  // The engine lives until the process ends inside Run; it is never destroyed.
  auto* kelvo = new TKelvo(std::string_view(deviceName).substr(0, 255));
  kelvo->Init();
  AssembleScenes(*kelvo);
  SceneIndex = 0;
  kelvo->Run();
}
