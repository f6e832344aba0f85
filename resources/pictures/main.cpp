// kelvo-gen-pictures OUTDIR [NAME ...]: paints the demo's pictures and writes each as
// OUTDIR/NAME.bmp (all twenty when no name is given). Two worker threads share the list.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/fatal.hpp"
#include "resources/pictures/bmp_writer.hpp"
#include "resources/pictures/catalogue.hpp"

namespace {

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  if (args.size() < 2) FatalLine("usage: kelvo-gen-pictures OUTDIR [NAME ...]", 2);
  const std::string& folder = Item(args, 1);
  const std::vector<std::string> names(args.begin() + 2, args.end());
  for (const std::string& name : names) {
    bool known = false;
    for (const TPictureJob& job : PictureCatalogue()) known = known || job.Name == name;
    if (!known) FatalLine("[kelvo-gen-pictures] ERROR: no picture named " + name, 2);
  }
  std::vector<const TPictureJob*> chosen;
  for (const TPictureJob& job : PictureCatalogue()) {
    bool wanted = names.empty();
    for (const std::string& name : names) wanted = wanted || job.Name == name;
    if (wanted) chosen.push_back(&job);
  }

  const auto start = std::chrono::steady_clock::now();
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    for (;;) {
      const std::size_t index = next.fetch_add(1);
      if (index >= chosen.size()) return;
      const TPictureJob& job = *Item(chosen, index);
      const auto begun = std::chrono::steady_clock::now();
      const TImage image = job.Paint(job.Width, job.Height);
      Assert(image.Width() == job.Width && image.Height() == job.Height, "a painter returned the wrong size",
             "pictures", __LINE__);
      WriteFileAtomically(folder + "/" + job.Name + ".bmp", EncodeBmp(image, job.Header));
      WriteLine("[kelvo-gen-pictures] " + job.Name + " " + std::to_string(MillisecondsSince(begun)) + " ms");
    }
  };
  std::thread second(worker);
  worker();
  second.join();
  WriteLine("[kelvo-gen-pictures] " + std::to_string(chosen.size()) + " pictures in " +
            std::to_string(MillisecondsSince(start)) + " ms");
  return 0;
}
