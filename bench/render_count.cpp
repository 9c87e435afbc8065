// Renders one benchmark case a given number of times through the pixel loop
// at the width LENSTROVE_MAX_ISA leaves it, for counting instructions: run
// under callgrind or an instrumented emulator with two render counts, the
// difference is what the renders alone executed (bench/instructions.sh).
//   lenstrove_render_count CASE byte|float WIDTHxHEIGHT smooth|noisy RENDERS

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_cases.h"
#include "render/fast_pixel_loop.h"
#include "render/pixel_loop.h"
#include "render/render_settings.h"

int main(int argc, char** argv) {
  using namespace lenstrove;
  int width = 0, height = 0;
  if (argc != 6 || std::sscanf(argv[3], "%dx%d", &width, &height) != 2 || width <= 0 || height <= 0) {
    std::fprintf(stderr, "usage: %s CASE byte|float WIDTHxHEIGHT smooth|noisy RENDERS\n", argv[0]);
    return 2;
  }
  const std::vector<bench::Case> cases = bench::Cases();
  const bench::Case* chosen = nullptr;
  for (const bench::Case& c : cases)
    if (std::strcmp(c.name, argv[1]) == 0) chosen = &c;
  if (chosen == nullptr) {
    std::fprintf(stderr, "%s: no case %s\n", argv[0], argv[1]);
    return 2;
  }
  const PixelLayout layout = std::strcmp(argv[2], "float") == 0 ? PixelLayout::FloatRGBA : PixelLayout::ByteRGBA;
  const bench::Picture picture = std::strcmp(argv[4], "noisy") == 0 ? bench::Picture::Noisy : bench::Picture::Smooth;
  RenderSettings settings = chosen->settings;
  SanitizeRenderSettings(settings);
  const OfxRectI bounds{0, 0, width, height};
  const int64_t rowBytes = int64_t{width} * BytesPerPixel(layout);
  std::vector<unsigned char> source(static_cast<size_t>(rowBytes) * height), output(source.size());
  bench::DrawPicture(source.data(), width, height, layout, picture);
  const FrameGeometry geometry = bench::WholeFrameGeometry(bounds, rowBytes, settings);
  const auto job = PlanPixelJob(layout, {source.data(), rowBytes, bounds}, {output.data(), rowBytes, bounds}, bounds);
  for (int i = std::atoi(argv[5]); i > 0; --i) RunPixelLoop(*job, geometry, settings);
  std::printf("%s\n", VectorWidthName(ChosenVectorWidth()));
  return 0;
}
